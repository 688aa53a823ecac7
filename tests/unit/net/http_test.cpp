// The choice of peer, the send rule, and the reading and judging of response heads. (The
// download and upload tests check the request bytes and the upload's own reading.)
#include "net/http.h"

#include <gtest/gtest.h>

#include <string>

#include "net_test_support.h"
#include "support/loopback_peer.h"

namespace qlan {
namespace {

using test::LoopbackPeer;

// peer started, and a connection to it made the way an exchange through a proxy makes it.
void Open(LoopbackPeer& peer, TcpConnection& c, Timeouts timeouts = test::kTestTimeouts) {
  peer.Start();
  c.setTimeouts(timeouts);
  ASSERT_EQ(openExchange(c, "127.0.0.1", peer.port()), 0);
}

TEST(OpenExchange, ProxyProblemsHaveTheirCodes) {
  const struct {
    const char* address;
    int port, code;
  } cases[] = {{"127.0.0.1", 0, kBadProxy},
               {"127.0.0.1", 65536, kBadProxy},
               {test::kUnresolvableHost, 8080, kNameNotFound},
               {"127.0.0.1", LoopbackPeer::ClosedPort(), kConnectFailed}};
  for (const auto& c : cases) {
    TcpConnection connection;
    EXPECT_EQ(openExchange(connection, c.address, c.port), c.code) << c.port;
  }
}

TEST(SendRule, RequestIsSentOnlyWhenEveryPieceWentOutAndAFailureStopsTheRest) {
  LoopbackPeer peer;
  TcpConnection c;
  Open(peer.StopReading(5000), c, Timeouts{2000, 300});
  RequestSender sender(c);
  sender.send(std::string_view(""));
  EXPECT_FALSE(sender.sent());  // only empty pieces
  sender.send(std::string_view("abc"));
  EXPECT_TRUE(sender.sent());
  sender.fail();  // a piece that could not be built
  EXPECT_FALSE(sender.sent());
  RequestSender request(c);
  const std::string huge(std::size_t{64} << 20, 'h');
  request.send(huge);  // the peer stopped reading
  const auto start = test::Clock::now();
  for (int i = 0; i < 5; ++i) request.send(huge);
  EXPECT_LT(test::MsSince(start), 250);  // no further limit waited out
  EXPECT_FALSE(request.sent());
}

TEST(ResponseHead, EveryOutcome) {
  const std::string ok = "HTTP/1.1 200 OK\r\n", bad = ok + "Content-Length: ";
  const struct {
    std::string response;
    int code;
    std::int32_t length;  // for code 0 (1048576: no length line was given)
    const char* kept;     // for code 0 what follows the head, else the status line
  } cases[] = {
      {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\nServer: t\r\n\r\nhello", 0, 5, "hello"},
      {ok + "content-length: 4\r\n\r\nbody", 0, 1048576, "body"},  // the name's case matters
      {ok + "Content-Length: 5\r\nContent-Length:3\r\n\r\nabc", 0, 3, "abc"},
      {ok + "Content-Length: 2147483647\r\n\r\n", 0, 2147483647, ""},
      {"HTTP/1.1   +200OK\r\n\r\n", 0, 1048576, ""},  // a number after the first blank
      // A 1026-byte header line comes as 1023 bytes and "x\r\n", which ends the block.
      {ok + "X: " + std::string(1020, 'l') + "x\r\nContent-Length: 7\r\n\r\n", 0, 1048576,
       "Content-Length: 7\r\n\r\n"},
      {bad + "-1\r\n\r\n", kBadResponse, 0, nullptr},
      {bad + "2147483648\r\n\r\n", kBadResponse, 0, nullptr},
      {bad + "abc\r\n\r\n", kBadResponse, 0, nullptr},
      {bad + "\r\n\r\n", kBadResponse, 0, nullptr},  // nothing after the name
      {"http/1.1 200 OK\r\n\r\n", kBadResponse, 0, nullptr},
      {"HTTP/1.1 404 Not Found\r\n\r\n", kHttpError, 0, "HTTP/1.1 404 Not Found\r\n"},
      {"HTTP/1.1\r\n\r\n", kHttpError, 0, "HTTP/1.1\r\n"},
      {"", kNothingReceived, 0, nullptr},
      {ok, kNothingReceived, 0, nullptr},  // closed right after the status line
  };
  for (const auto& c : cases) {
    LoopbackPeer peer;
    TcpConnection connection;
    Open(peer.Send(c.response), connection);
    char status[kLineBufferSize] = {}, next[64] = {};
    std::int32_t length = -7;
    bool given = true;
    const std::string shown = c.response.substr(0, 60);
    EXPECT_EQ(readResponseHead(connection, status, &length, &given), c.code) << shown;
    if (c.code == 0) {
      EXPECT_EQ(length, c.length) << shown;
      EXPECT_EQ(given, c.length != 1048576) << shown;
      EXPECT_GE(connection.receive(next, sizeof next - 1), 0);
    }
    if (c.kept != nullptr) {
      EXPECT_STREQ(c.code == 0 ? next : status, c.kept) << shown;
    }
  }
}

TEST(ResponseHead, SilenceBeforeOrInsideTheHeadIsConnectionCutAfterTheLimit) {
  for (const char* sent : {"", "HTTP/1.1 200 OK\r\nServer: t\r\n"}) {
    LoopbackPeer peer;
    TcpConnection connection;
    Open(peer.Send(sent).Silent(5000), connection, Timeouts{2000, 300});
    char status[kLineBufferSize];
    std::int32_t length = 0;
    EXPECT_EQ(readResponseHead(connection, status, &length), kConnectionCut) << sent;
  }
}

}  // namespace
}  // namespace qlan
