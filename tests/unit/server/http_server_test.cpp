// The server on a loopback port, spoken to with exact bytes: the tool's LF-only request,
// both request-line forms, refusals, limits, slow clients, overload and the request log.
#include "server/http_server.h"

#include <gtest/gtest.h>

#include <regex>

#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using test::BodyOf;
using test::Exchange;
using test::StatusOf;

ServerOptions FastOptions(bool behindFront) {
  ServerOptions o;
  o.threads = 4;
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
  const std::string uploadHead_ = "POST /sw/qlan/hsentry/0/ HTTP/1.1\n";
};

TEST_F(HttpServerTest, ServesTheTableTakesTheToolsUploadAndShowsItsPageInBothForms) {
  for (const char* request :
       {"GET http://h/sw/qlan/score.dat HTTP/1.1\r\nConnection: close\r\n\r\n",
        "GET /sw/qlan/score.dat HTTP/1.0\n\n"}) {
    const std::string reply = Exchange(server_.port(), request);
    EXPECT_EQ(reply.substr(0, reply.find("\r\n\r\n") + 4),
              "HTTP/1.1 200 OK\r\nCache-Control: no-store\r\nConnection: close\r\n"
              "Content-Length: 10888\r\nContent-Type: application/octet-stream\r\n\r\n");
    EXPECT_EQ(BodyOf(reply), test::KnownFile("highscore/empty-table.ee"));
  }
  const std::string replay = test::KnownFile("replays/good/r712.replay");
  const std::string reply =
      Exchange(server_.port(), test::ToolRequest(test::ToolForm(replay), false));
  ASSERT_EQ(StatusOf(reply), 200) << reply;
  const std::string id = test::EntryIdIn(BodyOf(reply));
  ASSERT_EQ(id.size(), 16u) << reply;
  // The same bytes again are the same entry.
  EXPECT_EQ(
      test::EntryIdIn(BodyOf(Exchange(server_.port(), test::ToolRequest(test::ToolForm(replay))))),
      id);
  const std::string page = Exchange(
      server_.port(), "GET http://ranking.quillane.example/sw/qlan/hsentry/1/?UNIQUE_ID=" + id +
                          " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_NE(page.find("<td>R 712</td>"), std::string::npos) << page;
  const std::string missing = Exchange(server_.port(), "GET /sw/qlan/score.dat/x HTTP/1.0\n\n");
  EXPECT_TRUE(StatusOf(missing) == 404 && BodyOf(missing).find("エラー 404") != std::string::npos);
  EXPECT_EQ(test::StoredCount(server_.store()), 1u);
}

TEST_F(HttpServerTest, RefusesBadRequestsWithTheir4xxAndStoresNothing) {
  const std::string good = test::ToolForm(test::KnownFile("replays/good/r710.replay"));
  const std::pair<std::string, int> cases[] = {
      {test::ToolRequest(test::ToolForm(test::KnownFile("replays/bad/bad-checksum-r710.replay"))),
       422},
      {uploadHead_ + "Content-Length: " + std::to_string(kMaxEntryBody + 1) + "\n\n", 413},
      // A good form under another path, another method.
      {test::ToolRequest(good).replace(53, 1, "1"), 404},
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
  // A byte every 200 ms keeps the progress time from running out, but neither the whole
  // head's time nor the whole request's.
  for (const std::string& opening :
       {std::string("GET / HTTP/1.1\r\nX: "), uploadHead_ + "Content-Length: 1000\n\n"}) {
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
  EXPECT_EQ(test::StoredCount(server_.store()), 0u);
}

TEST(HttpServer, AnswersAnOverloadAt503AtOnceAndLogsTheFrontsAddressBehindOne) {
  test::TempFolder folder;
  ServerOptions options = FastOptions(true);
  options.threads = 1;
  options.maxQueued = 1;
  test::RunningServer server(folder.Join("r.db"), options);
  ASSERT_TRUE(server.ok());
  Exchange(server.port(), "GET /sw/qlan/score.dat HTTP/1.0\r\nX-Real-IP: 192.0.2.7\r\n\r\n");
  // One silent client holds the only worker, a second one the only queue place.
  int busy[2];
  for (int& fd : busy) {
    fd = test::Connect(server.port());
    std::this_thread::sleep_for(milliseconds(100));
  }
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(StatusOf(Exchange(server.port(), "GET /sw/qlan/score.dat HTTP/1.0\n\n")), 503);
  EXPECT_LT(Clock::now() - start, milliseconds(500));
  for (const int fd : busy) close(fd);
  server.Stop();
  EXPECT_NE(server.log().at(0).find("Z 192.0.2.7 \"GET /sw/qlan/score.dat\" 200 10888 "),
            std::string::npos);
}

TEST_F(HttpServerTest, KeepsAliveAndLogsOneLineEachWithTheSocketsAddress) {
  const std::string reply = Exchange(server_.port(),
                                     "GET /sw/qlan/score.dat HTTP/1.1\r\nX-Real-IP: 192.0.2.7\r\n"
                                     "\r\nGET http://x/nothing HTTP/1.1\r\nHost: x\r\n"
                                     "Connection: close\r\n\r\n");
  EXPECT_EQ(StatusOf(reply), 200);
  EXPECT_NE(reply.find("Connection: keep-alive\r\n"), std::string::npos);
  EXPECT_NE(reply.find("HTTP/1.1 404 Not Found\r\n"), std::string::npos);
  Exchange(server_.port(), "BROKEN\n\n");
  server_.Stop();
  const std::vector<std::string> lines = server_.log();
  ASSERT_EQ(lines.size(), 3u);
  const std::regex line(R"(\S+Z 127\.0\.0\.1 "(GET /sw/qlan/score\.dat" 200 10888|GET )"
                        R"(/nothing" proxy-form 404 \d+|- -" 400 \d+) \d+\.\dms)");
  for (const std::string& l : lines) EXPECT_TRUE(std::regex_match(l, line)) << l;
}

}  // namespace
}  // namespace qlan::server
