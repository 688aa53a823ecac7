// The server's HTTP side on a loopback port in this process, spoken to with exact bytes.
#include "server/http_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "server/request_log.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

using std::chrono::milliseconds;
using test::AtOnce;
using test::BodyOf;
using test::EntryRequest;
using test::Exchange;
using test::HeldWriteLock;
using test::kDownload;
using test::StatusOf;

class HttpServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.ok()); }
  test::TempFolder folder_;
  test::RunningServer server_{folder_.Join("ranking.db")};
};

TEST_F(HttpServerTest, ServesTheTableTakesTheToolsUploadAndShowsItsPage) {
  const std::string table = Exchange(
      server_.port(), "GET http://h/sw/qlan/score.dat HTTP/1.1\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(StatusOf(table), 200);
  EXPECT_NE(table.find("\r\nContent-Length: 10888\r\n"), std::string::npos) << table.substr(0, 200);
  EXPECT_EQ(BodyOf(table), test::KnownFile("highscore/empty-table.ee"));
  const std::string reply =
      Exchange(server_.port(),
               test::EntryPost(test::KnownFile("replays/good/r712.replay"), "/sw/qlan/hsentry/0/"));
  ASSERT_EQ(StatusOf(reply), 200) << reply;
  const std::string id = test::EntryIdIn(BodyOf(reply));
  ASSERT_EQ(id.size(), 16u) << reply;
  const std::string page = Exchange(
      server_.port(), "GET http://ranking.quillane.example/sw/qlan/hsentry/1/?x=1&UNIQUE_ID=" + id +
                          " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_NE(page.find("<td>R 712</td>"), std::string::npos) << page;
  EXPECT_EQ(test::StoredCount(server_.store()), 1u);
}

// Other clients write CR LF where the tool writes LF, in the head and in the form alike.
TEST_F(HttpServerTest, TakesAnEntryWithCrLfLineEnds) {
  const std::string reply = Exchange(
      server_.port(),
      test::EntryPost(test::KnownFile("replays/good/r710.replay"), "/sw/qlan/hsentry/0/", "\r\n"));
  EXPECT_EQ(test::EntryIdIn(BodyOf(reply)).size(), 16u) << reply;
}

TEST_F(HttpServerTest, RefusesBadRequestsWithTheir4xxAndStoresNothing) {
  const std::pair<std::string, int> cases[] = {
      {test::EntryPost(test::KnownFile("replays/bad/bad-checksum-r710.replay")), 422},
      {"POST /sw/qlan/hsentry/0/ HTTP/1.1\nContent-Length: " + std::to_string(kMaxEntryBody + 1) +
           "\n\n",
       413},
      {"POST /sw/qlan/hsentry/0/ HTTP/1.1\nHost: x\n\n", 411},
      // A good form under another path, another method.
      {test::EntryPost(test::KnownFile("replays/good/r710.replay"),
                       "http://ranking.quillane.example/sw/qlan/hsentry/1/"),
       404},
      // Heads with two readings; a page the front would file under another page's key.
      {"GET /sw/qlan/score.dat HTTP/1.1\nContent-Length: 0\nContent-Length: 9\n\n", 400},
      {"GET /sw/qlan/score.dat%00.html HTTP/1.0\n\n", 400},
      {std::string("GET /sw/qlan/score.dat") + '\0' + ".html HTTP/1.0\n\n", 400},
      {"GET /sw/qlan/ranking/710/?%70age=1 HTTP/1.0\n\n", 404},
      {"GET /sw/qlan/score.dat HTTP/1.1\r\nX-Big: " + std::string(40000, 'a') + "\r\n\r\n", 431},
  };
  for (const auto& [request, status] : cases) {
    EXPECT_EQ(StatusOf(Exchange(server_.port(), request)), status) << request.substr(0, 120);
  }
  EXPECT_EQ(test::StoredCount(server_.store()), 0u);
  server_.Stop();  // the library's own refusal is logged with the status it sent
  EXPECT_NE(server_.log().back().find("\"- /sw/qlan/score.dat\" 431 0 "), std::string::npos)
      << server_.log().back();
}

// Silent connections cost a socket each, no worker: downloads beside them are answered at once.
TEST_F(HttpServerTest, SilentConnectionsHoldNothingANewRequestNeeds) {
  std::vector<int> silent(64);
  for (std::size_t i = 0; i < silent.size(); ++i) {
    silent[i] = test::Connect(server_.port(), i % 2 == 0 ? "127.0.0.2" : "127.0.0.3");
  }
  for (int i = 0; i < 5; ++i) EXPECT_EQ(StatusOf(Exchange(server_.port(), kDownload, 1000)), 200);
  for (const int fd : silent) close(fd);
}

// The socket's address is logged unless the server runs behind the front, which sends the
// client's in X-Real-IP; one line per request, kept-alive ones too.
TEST_F(HttpServerTest, KeepsAliveAndLogsTheSocketsAddressOrTheFrontsBehindOne) {
  const auto twice = [](int port) {
    const int fd = test::Connect(port);
    const std::string first =
        "GET /sw/qlan/score.dat HTTP/1.1\r\nHost: x\r\nX-Real-IP: 192.0.2.7\r\n\r\n";
    send(fd, first.data(), first.size(), MSG_NOSIGNAL);
    std::this_thread::sleep_for(milliseconds(100));  // one request at a time, as a front sends
    return test::Complete(fd, "GET http://x/nothing HTTP/1.1\r\nConnection: close\r\n\r\n");
  };
  const std::string reply = twice(server_.port());
  EXPECT_NE(reply.find("404 Not Found"), std::string::npos) << reply.substr(0, 200);
  server_.Stop();
  const std::vector<std::string> lines = server_.log();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("Z 127.0.0.1 \"GET /sw/qlan/score.dat\" 200 10888 "), std::string::npos);
  EXPECT_NE(lines[1].find(" \"GET /nothing\" proxy-form 404 "), std::string::npos) << lines[1];

  ServerOptions behind;
  behind.behindFront = true;
  test::RunningServer front(folder_.Join("front.db"), behind);
  ASSERT_TRUE(front.ok());
  twice(front.port());
  front.Stop();
  EXPECT_NE(front.log().at(0).find("Z 192.0.2.7 \"GET /sw/qlan/score.dat\" 200 10888 "),
            std::string::npos);
}

// Another process holding the write lock (a backup, sqlite3 by hand) delays entries only, each
// until its own deadline at most (then 503, to be sent again); pages do not wait at all.
TEST(HttpServerLock, EntriesWaitForAHeldWriteLockUntilTheirOwnDeadlinePagesNotAtAll) {
  test::TempFolder folder;
  ServerOptions options;
  options.entryDeadline = milliseconds(1000);
  test::RunningServer server(folder.Join("ranking.db"), options);
  {
    const HeldWriteLock lock(folder.Join("ranking.db"));
    ASSERT_TRUE(server.ok() && lock.held());
    auto entries = std::async(std::launch::async, [&] {
      return AtOnce(server.port(), 20, [](std::uint32_t i) { return EntryRequest(i); });
    });
    std::this_thread::sleep_for(milliseconds(300));
    for (const auto& [read, status] :
         {std::pair(kDownload, 200),
          std::pair("GET /sw/qlan/hsentry/1/?UNIQUE_ID=AAAAAAAAAAAAAAAA HTTP/1.0\n\n", 404)}) {
      EXPECT_EQ(StatusOf(Exchange(server.port(), read, 1000)), status) << read;
    }
    for (const auto& [reply, ms] : entries.get()) {
      EXPECT_EQ(StatusOf(reply), 503);
      EXPECT_NE(reply.find("\r\nRetry-After: 5\r\n"), std::string::npos) << reply;
      EXPECT_LT(ms, 1600);
    }
  }
  EXPECT_EQ(StatusOf(Exchange(server.port(), EntryRequest(7))), 200);
}

}  // namespace
}  // namespace qlan::server
