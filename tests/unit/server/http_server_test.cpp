// The server's HTTP: request heads found, checked and read (LF or CR LF, origin or absolute
// form), then the server on a loopback port spoken to with exact bytes.
#include "server/http_server.h"

#include <gtest/gtest.h>

#include "server/request_head.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

using std::chrono::milliseconds;
using test::BodyOf;
using test::Clock;
using test::Exchange;
using test::StatusOf;

TEST(RequestHead, SkipsTheToolsExtraLfsAndFindsTheEndWithinTheLimit) {
  std::size_t end = 0;
  // The tool's two extra LFs after a body must not read as an empty head.
  EXPECT_EQ(FindHeadEnd("\n\r\n\nGET / HTTP/1.1\r\n\r\nX", &end), HeadScan::kComplete);
  EXPECT_EQ(end, 22u);
  EXPECT_EQ(FindHeadEnd("\n\n", &end), HeadScan::kNeedMore);
  EXPECT_EQ(FindHeadEnd(std::string(kMaxHeadBytes - 1, 'a'), &end), HeadScan::kNeedMore);
  EXPECT_EQ(FindHeadEnd(std::string(kMaxHeadBytes, 'a'), &end), HeadScan::kTooLarge);
  NormalizedHead head;
  EXPECT_EQ(NormalizeRequestHead("\n\r\n\nGET / HTTP/1.1\n\n", 100, &head), Outcome::kOk);
  EXPECT_EQ(head.target, "/");
  EXPECT_EQ(NormalizeRequestHead("GET / HTTP/1.0\nConnection: keep-alive\n\n", 0, &head),
            Outcome::kOk);
  EXPECT_TRUE(head.keepAlive);
}

TEST(RequestHead, AnswersBadHeadsWithTheirStatus) {
  std::string manyLines = "GET / HTTP/1.1\n";
  for (std::size_t i = 0; i <= kMaxHeaderLines; ++i) manyLines += "X-A: 1\n";
  const std::pair<int, std::string> groups[] = {
      {200,
       "GET / HTTP/1.1\nX-zz: 1\n\n|POST / HTTP/1.1\nContent-Length: 10\n\n|"
       "POST / HTTP/1.1\nContent-Length: 5\nContent-Length: 5\n\n"},
      {400,
       "GET /\n\n|GET  / HTTP/1.1\n\n|GET / HTTP/1.1 \n\n|G(T / HTTP/1.1\n\n|"
       "GET / FTP/1.0\n\n|GET relative HTTP/1.1\n\n|GET http:///x HTTP/1.1\n\n|"
       "GET /\x01 HTTP/1.1\n\n|GET / HTTP/1.1\nNoColon\n\n|GET / HTTP/1.1\n: empty\n\n|"
       "GET / HTTP/1.1\nBad Name: x\n\n|GET / HTTP/1.1\nX: a\n folded\n\n|"
       "GET / HTTP/1.1\nX: a\x01z\n\n|GET / HTTP/1.1\nX: a\x7f\n\n|POST / "
       "HTTP/1.1\nContent-Length: -1\n\n|"
       "POST / HTTP/1.1\nContent-Length: 1x\n\n|"
       "POST / HTTP/1.1\nContent-Length: 99999999999999999999\n\n|"
       "POST / HTTP/1.1\nContent-Length: 5\nContent-Length: 6\n\n"},
      {411, "POST / HTTP/1.1\n\n"},
      {413, "POST / HTTP/1.1\nContent-Length: 11\n\n"},
      {414, "GET /" + std::string(kMaxTargetLength, 'a') + " HTTP/1.1\n\n"},
      {431, manyLines + "\n"},
      {501, "POST / HTTP/1.1\nTransfer-Encoding: chunked\n\n"},
      {505, "GET / HTTP/2.0\n\n"},
  };
  for (const auto& [status, joined] : groups) {
    for (const std::string& raw : test::Cases(joined)) {
      NormalizedHead head;
      EXPECT_EQ(HttpStatus(NormalizeRequestHead(raw, 10, &head)), status) << raw;
    }
  }
}

ServerOptions FastOptions(bool behindFront) {
  ServerOptions o;
  o.headTimeoutMs = 1000;
  o.ioTimeoutMs = 1000;
  o.keepAliveMs = 500;
  o.requestTimeoutMs = 1500;
  o.behindFront = behindFront;
  return o;
}

class HttpServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.ok()); }
  test::TempFolder folder_;
  test::RunningServer server_{folder_.Join("ranking.db"), FastOptions(false)};
};

TEST_F(HttpServerTest, ServesTheTableTakesTheToolsUploadAndShowsItsPage) {
  const std::string table = Exchange(
      server_.port(), "GET http://h/sw/qlan/score.dat HTTP/1.1\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(table,
            "HTTP/1.1 200 OK\r\nCache-Control: no-store\r\nConnection: close\r\n"
            "Content-Length: 10888\r\nContent-Type: application/octet-stream\r\n\r\n" +
                test::KnownFile("highscore/empty-table.ee"));
  const std::string reply = Exchange(
      server_.port(),
      test::ToolRequest(test::ReplayForm(test::KnownFile("replays/good/r712.replay")), false));
  ASSERT_EQ(StatusOf(reply), 200) << reply;
  const std::string id = test::EntryIdIn(BodyOf(reply));
  ASSERT_EQ(id.size(), 16u) << reply;
  const std::string page = Exchange(
      server_.port(), "GET http://ranking.quillane.example/sw/qlan/hsentry/1/?x=1&UNIQUE_ID=" + id +
                          " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_NE(page.find("<td>R 712</td>"), std::string::npos) << page;
  EXPECT_EQ(test::StoredCount(server_.store()), 1u);
}

TEST_F(HttpServerTest, RefusesBadRequestsWithTheir4xxAndStoresNothing) {
  const std::pair<std::string, int> cases[] = {
      {test::ToolRequest(test::ReplayForm(test::KnownFile("replays/bad/bad-checksum-r710.replay"))),
       422},
      {"POST / HTTP/1.1\nContent-Length: " + std::to_string(kMaxEntryBody + 1) + "\n\n", 413},
      // A good form under another path, another method.
      {test::ToolRequest(test::ReplayForm(test::KnownFile("replays/good/r710.replay")))
           .replace(53, 1, "1"),
       404},
      {"GET /sw/qlan/score.dat HTTP/1.1\r\nX-Big: " + std::string(20000, 'a') + "\r\n\r\n", 431},
      {"BROKEN\n\n", 400},
  };
  for (const auto& [request, status] : cases) {
    EXPECT_EQ(StatusOf(Exchange(server_.port(), request)), status) << request.substr(0, 120);
  }
  EXPECT_EQ(test::StoredCount(server_.store()), 0u);
}

TEST_F(HttpServerTest, GivesUpOnSilentStalledOrTricklingClientsInTime) {
  // A head that stops is answered 408 after the head time; nothing at all, no reply.
  EXPECT_EQ(StatusOf(Exchange(server_.port(), "GET / HTTP/1.1\r\nHost: x\r\n")), 408);
  EXPECT_EQ(Exchange(server_.port(), ""), "");
  // A client that ends its side inside a head gets no reply.
  const int closing = test::Connect(server_.port());
  EXPECT_EQ(send(closing, "GET / HTTP/1.1\r\n", 16, MSG_NOSIGNAL), 16);
  shutdown(closing, SHUT_WR);
  char none;
  EXPECT_EQ(recv(closing, &none, 1, 0), 0);
  close(closing);
  // A byte every 200 ms outlasts neither the whole head's time nor the whole request's.
  for (const std::string& opening : {std::string("GET / HTTP/1.1\r\nX: "),
                                     std::string("POST / HTTP/1.1\nContent-Length: 1000\n\n")}) {
    const int fd = test::Connect(server_.port());
    const Clock::time_point start = Clock::now();
    bool cut = send(fd, opening.data(), opening.size(), MSG_NOSIGNAL) < 0;
    for (int i = 0; i < 25 && !cut; ++i) {
      std::this_thread::sleep_for(milliseconds(200));
      char b;
      cut = send(fd, "x", 1, MSG_NOSIGNAL) != 1 || recv(fd, &b, 1, MSG_DONTWAIT) >= 0;
    }
    close(fd);
    EXPECT_TRUE(cut) << opening;
    EXPECT_LT(Clock::now() - start, milliseconds(4000)) << opening;
  }
}

TEST(HttpServerBusy, AFullQueueIsAnswered503AtOnce) {
  test::TempFolder folder;
  ServerOptions options = FastOptions(false);
  options.maxQueued = 0;
  test::RunningServer server(folder.Join("ranking.db"), options);
  ASSERT_TRUE(server.ok());
  EXPECT_EQ(StatusOf(Exchange(server.port(), "")), 503);
}

// The socket's address is logged unless the server runs behind the front, which sends the
// client's in X-Real-IP; one line per request, kept-alive ones too.
TEST_F(HttpServerTest, KeepsAliveAndLogsTheSocketsAddressOrTheFrontsBehindOne) {
  const std::string twice =
      "GET /sw/qlan/score.dat HTTP/1.1\r\nX-Real-IP: 192.0.2.7\r\n\r\n"
      "GET http://x/nothing HTTP/1.1\r\nConnection: close\r\n\r\n";
  const std::string reply = Exchange(server_.port(), twice);
  EXPECT_NE(reply.find("Connection: keep-alive\r\n"), std::string::npos);
  server_.Stop();
  const std::vector<std::string> lines = server_.log();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("Z 127.0.0.1 \"GET /sw/qlan/score.dat\" 200 10888 "), std::string::npos);
  EXPECT_NE(lines[1].find(" \"GET /nothing\" proxy-form 404 "), std::string::npos) << lines[1];

  test::RunningServer front(folder_.Join("front.db"), FastOptions(true));
  ASSERT_TRUE(front.ok());
  Exchange(front.port(), twice);
  front.Stop();
  EXPECT_NE(front.log().at(0).find("Z 192.0.2.7 \"GET /sw/qlan/score.dat\" 200 10888 "),
            std::string::npos);
}

}  // namespace
}  // namespace qlan::server
