// The server on a loopback port, spoken to with exact bytes: the tool's LF-only request,
// both request-line forms, refusals, limits, the request log and restarts.
#include "server/http_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>

#include "support/temp_env.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

using test::BodyOf;
using test::Exchange;
using test::StatusOf;

std::string Replay(const char* name) { return test::ReadFileBytes(test::TestDataPath(name)); }

std::string IdIn(const std::string& body) {
  std::smatch m;
  static const std::regex kLine("\n\\*\\*ID:([A-Za-z0-9_-]+)\n");
  return std::regex_search(body, m, kLine) ? m[1].str() : "";
}

std::size_t StoredCount(EntryStore& store) {
  std::vector<RouteStanding> routes;
  EXPECT_EQ(store.Standings(&routes), StoreResult::kOk);
  std::size_t n = 0;
  for (const RouteStanding& r : routes) n += r.count;
  return n;
}

class HttpServerTest : public ::testing::Test {
 protected:
  static ServerOptions FastOptions() {
    ServerOptions o;
    o.threads = 4;
    o.headTimeoutMs = 1000;
    o.ioTimeoutMs = 1000;
    o.keepAliveMs = 500;
    return o;
  }
  test::TempFolder folder_;
  std::string db_ = folder_.Join("ranking.db");
};

TEST_F(HttpServerTest, TakesTheToolsLfUploadInBothRequestForms) {
  test::RunningServer server(db_, FastOptions());
  ASSERT_TRUE(server.ok());
  for (const bool absolute : {false, true}) {
    const std::string body = test::ToolFormBody(test::Base64Lines(Replay("replays/good/r710.replay")));
    const std::string reply = Exchange(server.port(), test::ToolEntryRequest(body, absolute));
    ASSERT_EQ(StatusOf(reply), 200) << reply;
    EXPECT_NE(reply.find("\r\nConnection: close\r\n"), std::string::npos);
    EXPECT_EQ(IdIn(BodyOf(reply)).size(), 16u) << reply;
  }
  EXPECT_EQ(StoredCount(server.store()), 2u);
}

TEST_F(HttpServerTest, ServesTheTableWithItsLengthInBothForms) {
  test::RunningServer server(db_, FastOptions());
  ASSERT_TRUE(server.ok());
  const std::string empty = test::ReadFileBytes(test::TestDataPath("highscore/empty-table.ee"));
  for (const char* request : {"GET /sw/qlan/score.dat HTTP/1.1\r\nHost: ranking.quillane.example\r\nConnection: close\r\n\r\n",
                              "GET http://ranking.quillane.example/sw/qlan/score.dat HTTP/1.1\r\n"
                              "Host: ranking.quillane.example\r\nConnection: close\r\n\r\n",
                              "GET /sw/qlan/score.dat HTTP/1.0\n\n"}) {
    const std::string reply = Exchange(server.port(), request);
    ASSERT_EQ(StatusOf(reply), 200) << request;
    EXPECT_NE(reply.find("\r\nContent-Length: 10888\r\n"), std::string::npos);
    EXPECT_EQ(BodyOf(reply), empty);
  }
}

TEST_F(HttpServerTest, EntryPageAndUnknownIdentifiers) {
  test::RunningServer server(db_, FastOptions());
  ASSERT_TRUE(server.ok());
  StoredEntry entry;
  ASSERT_EQ(server.service().AddReplay(Replay("replays/good/r712.replay"), 1, &entry), 0);
  const std::string page = Exchange(
      server.port(), "GET http://ranking.quillane.example/sw/qlan/hsentry/1/?UNIQUE_ID=" + entry.id +
                         " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  ASSERT_EQ(StatusOf(page), 200);
  EXPECT_NE(page.find("Content-Type: text/html; charset=utf-8"), std::string::npos);
  EXPECT_NE(page.find("<td>R 712</td>"), std::string::npos);
  for (const std::string target : {"/sw/qlan/hsentry/1/?UNIQUE_ID=AAAAAAAAAAAAAAAA", "/sw/qlan/hsentry/1/",
                                   "/sw/qlan/hsentry/1/?UNIQUE_ID=%27%3B", "/nothing/here", "/sw/qlan/score.dat/x"}) {
    const std::string reply = Exchange(server.port(), "GET " + target + " HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(StatusOf(reply), 404) << target;
    EXPECT_NE(BodyOf(reply).find("<html lang=\"ja\">"), std::string::npos) << target;
  }
}

TEST_F(HttpServerTest, RefusesBadUploadsWithA4xxAndStoresNothing) {
  test::RunningServer server(db_, FastOptions());
  ASSERT_TRUE(server.ok());
  struct Case {
    std::string request;
    int status;
  };
  const std::string good = test::Base64Lines(Replay("replays/good/r710.replay"));
  const std::string badChecksum = test::Base64Lines(Replay("replays/bad/bad-checksum-r710.replay"));
  const std::vector<Case> cases = {
      {test::ToolEntryRequest(test::ToolFormBody(badChecksum), false), 422},
      {test::ToolEntryRequest(test::ToolFormBody("@@@@"), true), 400},
      {test::ToolEntryRequest("not a form at all", false), 400},
      // No Content-Length, a chunked body, a declared size above what the tool can send.
      {"POST /sw/qlan/hsentry/0/ HTTP/1.1\nHost: h\n\n", 411},
      {"POST /sw/qlan/hsentry/0/ HTTP/1.1\nTransfer-Encoding: chunked\n\n0\n\n", 501},
      {"POST /sw/qlan/hsentry/0/ HTTP/1.1\nContent-Type: multipart/form-data; boundary=------AaXx00\n"
       "Content-Length: " + std::to_string(kMaxEntryBody + 1) + "\n\n",
       413},
      // A form with a good replay under another path or method.
      {"POST /sw/qlan/hsentry/1/ HTTP/1.1\nContent-Type: multipart/form-data; boundary=------AaXx00\n"
       "Connection: close\nContent-Length: " + std::to_string(test::ToolFormBody(good).size()) + "\n\n" +
           test::ToolFormBody(good),
       404},
      {"GET / HTTP/3.0\n\n", 505},
      {"BROKEN\n\n", 400},
  };
  for (const Case& c : cases) {
    const std::string reply = Exchange(server.port(), c.request);
    EXPECT_EQ(StatusOf(reply), c.status) << c.request.substr(0, 120) << "\n--\n" << reply.substr(0, 200);
  }
  EXPECT_EQ(StoredCount(server.store()), 0u);
}

TEST_F(HttpServerTest, RefusesOversizedHeadsAndAnswersSilentClientsInTime) {
  test::RunningServer server(db_, FastOptions());
  ASSERT_TRUE(server.ok());
  const std::string huge = "GET /sw/qlan/score.dat HTTP/1.1\r\nX-Big: " + std::string(20000, 'a') + "\r\n\r\n";
  EXPECT_EQ(StatusOf(Exchange(server.port(), huge)), 431);
  // A head that never ends: refused after the head time, and the connection is closed.
  const auto start = std::chrono::steady_clock::now();
  const std::string reply = Exchange(server.port(), "GET /sw/qlan/score.dat HTTP/1.1\r\nHost: x\r\n", 5000);
  EXPECT_EQ(StatusOf(reply), 408);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4000));
  // A connection that sends nothing is closed without a reply.
  EXPECT_EQ(Exchange(server.port(), "", 5000), "");
}

TEST_F(HttpServerTest, KeepsAliveAcrossRequestsAndLogsOneLineEach) {
  test::RunningServer server(db_, FastOptions());
  ASSERT_TRUE(server.ok());
  const std::string two =
      "GET /sw/qlan/score.dat HTTP/1.1\r\nHost: x\r\n\r\n"
      "GET http://x/nothing HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
  const std::string reply = Exchange(server.port(), two);
  EXPECT_EQ(StatusOf(reply), 200);
  EXPECT_NE(reply.find("HTTP/1.1 404 Not Found\r\n"), std::string::npos);
  Exchange(server.port(), "BROKEN\n\n");
  // A body on a GET is not read as a next request: the connection ends after the reply.
  const std::string withBody = Exchange(server.port(), "GET /sw/qlan/score.dat HTTP/1.1\nContent-Length: 5\n\nGET /x");
  EXPECT_EQ(StatusOf(withBody), 200);
  EXPECT_NE(withBody.find("Connection: close\r\n"), std::string::npos);
  server.Stop();
  const std::vector<std::string> lines = server.LogLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\S+Z 127\.0\.0\.1 "GET /sw/qlan/score\.dat" 200 10888 \S+ms)")))
      << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\S+Z 127\.0\.0\.1 "GET /nothing" proxy-form 404 \d+ \S+ms)")))
      << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(\S+Z 127\.0\.0\.1 "- -" 400 \d+ \S+ms)"))) << lines[2];
}

TEST_F(HttpServerTest, GivesUpOnStalledOrTricklingBodies) {
  ServerOptions options = FastOptions();
  options.requestTimeoutMs = 1500;
  test::RunningServer server(db_, options);
  ASSERT_TRUE(server.ok());
  const std::string head =
      "POST /sw/qlan/hsentry/0/ HTTP/1.1\nContent-Type: multipart/form-data; boundary=------AaXx00\n"
      "Content-Length: 1000\n\n";
  // Stalled: the body stops after a few bytes; the connection ends after the progress time.
  auto start = std::chrono::steady_clock::now();
  test::Exchange(server.port(), head + "--------Aa", 5000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));

  // Trickling: a byte every 200 ms keeps the progress time from running out, but not the
  // request's own time.
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(server.port()));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  start = std::chrono::steady_clock::now();
  ASSERT_EQ(send(fd, head.data(), head.size(), MSG_NOSIGNAL), static_cast<ssize_t>(head.size()));
  bool cut = false;
  for (int i = 0; i < 25 && !cut; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    cut = send(fd, "x", 1, MSG_NOSIGNAL) != 1;
    char b;
    if (!cut && recv(fd, &b, 1, MSG_DONTWAIT) >= 0) cut = true;  // reply or close
  }
  close(fd);
  EXPECT_TRUE(cut);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4000));
  EXPECT_EQ(StoredCount(server.store()), 0u);
}

TEST_F(HttpServerTest, RestartKeepsTheEntries) {
  std::string id;
  {
    test::RunningServer server(db_, FastOptions());
    ASSERT_TRUE(server.ok());
    const std::string body = test::ToolFormBody(test::Base64Lines(Replay("replays/good/r745.replay")));
    id = IdIn(BodyOf(Exchange(server.port(), test::ToolEntryRequest(body, true))));
    ASSERT_EQ(id.size(), 16u);
  }
  test::RunningServer again(db_, FastOptions());
  ASSERT_TRUE(again.ok());
  const std::string page =
      Exchange(again.port(), "GET /sw/qlan/hsentry/1/?UNIQUE_ID=" + id + " HTTP/1.1\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(StatusOf(page), 200);
  EXPECT_NE(page.find("<td>R 745</td>"), std::string::npos);
  const std::vector<unsigned char> table = test::UnscrambleHighScoreFile(
      BodyOf(Exchange(again.port(), "GET /sw/qlan/score.dat HTTP/1.1\r\nConnection: close\r\n\r\n")));
  ASSERT_EQ(table.size(), 10884u);
  const std::size_t b = 4 + 272 * 35;
  EXPECT_EQ(std::string(table.begin() + b + 16, table.begin() + b + 32), id);
}

}  // namespace
}  // namespace qlan::server
