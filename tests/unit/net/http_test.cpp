// The proxy settings check, the choice of peer, the send rule, and the reading and judging
// of response heads. (The download and upload tests check the request bytes.)
#include "net/http.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "net_test_support.h"
#include "support/loopback_peer.h"

namespace qlan {
namespace {

using test::LoopbackPeer;

// A connection to the peer, made the way an exchange through a proxy makes it.
std::unique_ptr<TcpConnection> Open(const LoopbackPeer& peer,
                                    Timeouts timeouts = test::kTestTimeouts) {
  auto c = std::make_unique<TcpConnection>();
  c->setTimeouts(timeouts);
  EXPECT_EQ(openExchange(*c, "127.0.0.1", peer.port()), 0);
  return c;
}

TEST(ProxyCheck, FieldsAreJudgedWithTheFlowsCaption) {
  const char* const address =
      "プロキシを使うように指定されていますが、プロキシアドレスが記入されていません。";
  const char* const port =
      "プロキシのポート指定が不正です。\nポートは1から65535の間で指定してください。";
  const struct {
    std::string address;
    std::int32_t port;
    const char* message;  // null: passes with the address, cut to 127 bytes
  } cases[] = {{"", 8080, address},
               {"proxy.local", 0, port},
               {"proxy.local", 65536, port},
               {"proxy.local", -1, port},
               {"   ", 1, nullptr},
               {"proxy.local", 65535, nullptr},
               {std::string(128, 'p'), 8080, nullptr}};  // a field without its zero
  for (const auto& c : cases) {
    test::SettingsGuard guard;
    test::UseProxy("", c.port);
    std::memcpy(g_settings.proxyAddress, c.address.data(), c.address.size());
    test::FakeWindow window;
    ProxyChoice choice{"stale", 9};
    EXPECT_EQ(CheckProxySettings(window, "エントリー", &choice), c.message == nullptr) << c.port;
    if (c.message != nullptr) {
      ASSERT_EQ(window.messages.size(), 1u) << c.port;
      test::ExpectMessage(window.messages[0], c.message, "エントリー", kMbIconHand);
      continue;
    }
    EXPECT_TRUE(window.messages.empty());
    ASSERT_NE(choice.proxyAddress, nullptr);
    EXPECT_EQ(std::string(choice.proxyAddress), c.address.substr(0, 127));
    EXPECT_EQ(choice.proxyPort, c.port);
  }
  // Without the proxy flag the fields are not looked at and no proxy is passed on.
  test::SettingsGuard guard;
  test::FakeWindow window;
  ProxyChoice choice{"stale", 9};
  EXPECT_TRUE(CheckProxySettings(window, "エントリー", &choice));
  EXPECT_EQ(choice.proxyAddress, nullptr);
  EXPECT_EQ(choice.proxyPort, 0);
  EXPECT_TRUE(window.messages.empty());
}

TEST(OpenExchange, ProxyProblemsHaveTheirCodes) {
  const struct {
    const char* address;
    int port, code;
  } cases[] = {{"127.0.0.1", 0, kBadProxy},
               {"127.0.0.1", -5, kBadProxy},
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
  peer.StopReading(5000);
  peer.Start();
  auto c = Open(peer, Timeouts{2000, 300});
  RequestSender sender(*c);
  EXPECT_FALSE(sender.sent());  // nothing
  sender.send(std::string_view(""));
  sender.send("", 0);
  EXPECT_FALSE(sender.sent());  // only empty pieces
  sender.send(std::string_view("abc"));
  EXPECT_TRUE(sender.sent());
  sender.fail();  // a piece that could not be built
  EXPECT_FALSE(sender.sent());
  RequestSender request(*c);
  request.send(std::string_view("GET / HTTP/1.1\r\n"));
  const std::string huge(std::size_t{64} << 20, 'h');
  request.send(huge.data(), static_cast<int>(huge.size()));  // the peer stopped reading
  EXPECT_FALSE(request.sent());
  const auto start = test::Clock::now();
  for (int i = 0; i < 5; ++i) request.send(huge.data(), static_cast<int>(huge.size()));
  EXPECT_LT(test::MsSince(start), 250);  // no further limit waited out
  EXPECT_FALSE(request.sent());
}

struct HeadResult {
  int code;
  std::int32_t length;
  bool given;
  std::string statusLine;
  std::string next;  // what the caller reads next (up to 64 bytes)
};

HeadResult ReadHead(LoopbackPeer& peer, Timeouts timeouts = test::kTestTimeouts) {
  peer.Start();
  auto c = Open(peer, timeouts);
  char status[kLineBufferSize] = {};
  HeadResult r{0, -7, true, {}, {}};
  r.code = readResponseHead(*c, status, &r.length, &r.given);
  r.statusLine = status;
  char block[64];
  const int n = r.code == 0 ? c->receive(block, sizeof block) : 0;
  if (n > 0) r.next.assign(block, static_cast<std::size_t>(n));
  return r;
}

TEST(ResponseHead, EveryOutcome) {
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  const std::string bad = ok + "Content-Length: ";
  const struct {
    std::string response;
    int code;
    std::int32_t length;  // for code 0 (1048576: no length line was given)
    const char* next;     // for code 0, or the status line kept for other codes
  } cases[] = {
      {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\nServer: t\r\n\r\nhello", 0, 5, "hello"},
      {ok + "Server: t\r\n\r\nbody", 0, 1048576, "body"},
      {ok + "content-length: 4\r\n\r\nbody", 0, 1048576, "body"},  // the name's case matters
      {ok + "Content-Length: 5\r\nContent-Length:3\r\n\r\nabc", 0, 3, "abc"},
      {ok + "Content-Length: 2147483647\r\n\r\n", 0, 2147483647, ""},
      {"HTTP/1.1   +200OK\r\n\r\n", 0, 1048576, ""},  // a number after the first blank
      // A 1026-byte header line comes as 1023 bytes and "x\r\n", which ends the block.
      {ok + "X-Long: " + std::string(1015, 'l') + "x\r\nContent-Length: 7\r\n\r\n", 0, 1048576,
       "Content-Length: 7\r\n\r\n"},
      {ok + "X-Long: " + std::string(1100, 'l') + "\r\nContent-Length: 7\r\n\r\n1234567", 0, 7,
       "1234567"},
      {bad + "-1\r\n\r\n", kBadResponse, 0, nullptr},
      {bad + "2147483648\r\n\r\n", kBadResponse, 0, nullptr},
      {bad + "4294967301\r\n\r\n", kBadResponse, 0, nullptr},
      {bad + "99999999999999999999999\r\n\r\n", kBadResponse, 0, nullptr},
      {bad + "abc\r\n\r\n", kBadResponse, 0, nullptr},
      {bad + "\r\n\r\n", kBadResponse, 0, nullptr},  // nothing after the name
      {"http/1.1 200 OK\r\n\r\n", kBadResponse, 0, nullptr},
      {"HTTP\r\n\r\n", kBadResponse, 0, nullptr},
      {"HTTP/1.1 404 Not Found\r\n\r\n", kHttpError, 0, "HTTP/1.1 404 Not Found\r\n"},
      {"HTTP/1.1 204 No Content\r\n\r\n", kHttpError, 0, "HTTP/1.1 204 No Content\r\n"},
      {"HTTP/1.1\r\n\r\n", kHttpError, 0, "HTTP/1.1\r\n"},
      {"HTTP/1.1 abc\r\n\r\n", kHttpError, 0, "HTTP/1.1 abc\r\n"},
      {"", kNothingReceived, 0, nullptr},
      {ok, kNothingReceived, 0, nullptr},  // closed right after the status line
  };
  for (const auto& c : cases) {
    LoopbackPeer peer;
    peer.Send(c.response);
    const HeadResult r = ReadHead(peer);
    const std::string shown = c.response.substr(0, 60);
    EXPECT_EQ(r.code, c.code) << shown;
    if (c.code == 0) {
      EXPECT_EQ(r.length, c.length) << shown;
      EXPECT_EQ(r.given, c.length != 1048576) << shown;
    }
    if (c.next != nullptr) {
      EXPECT_EQ(c.code == 0 ? r.next : r.statusLine, c.next) << shown;
    }
  }
}

TEST(ResponseHead, SilenceBeforeOrInsideTheHeadIsConnectionCutAfterTheLimit) {
  LoopbackPeer silent;
  silent.Silent(5000);
  EXPECT_EQ(ReadHead(silent, Timeouts{2000, 300}).code, kConnectionCut);
  LoopbackPeer stalls;
  stalls.Send("HTTP/1.1 200 OK\r\nServer: t\r\n").Silent(5000);
  EXPECT_EQ(ReadHead(stalls, Timeouts{2000, 300}).code, kConnectionCut);
}

}  // namespace
}  // namespace qlan
