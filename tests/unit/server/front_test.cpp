// deploy/nginx: the service as scripts/serve runs it (nginx in front of the server): the tool's
// own download and entry code through it in proxy mode, the headers browsers and caches read;
// the front's copies while the server restarts, held heads and entry floods held off (slow).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/byte_source.h"
#include "net/download.h"
#include "net/ranking.h"
#include "net/upload.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

using test::ChildProcess;
using test::Clock;
using test::Exchange;

class Front : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/usr/sbin/nginx", X_OK) != 0) GTEST_SKIP() << "nginx is not installed";
    port_ = test::FreePort();
    serve_ = std::make_unique<ChildProcess>(
        "env QLAN_SERVER_PROGRAM=" QLAN_SERVER_PROGRAM " " QLAN_SERVE_SCRIPT " --port " +
        std::to_string(port_) + " --dir " + folder_.Join("serve") + " -- --add-replay " +
        test::TestDataPath("replays/good/r710.replay"));
    ASSERT_TRUE(serve_->WaitFor("serve: http://")) << serve_->output();
  }
  int Download() { return downloadHighScores(UserAgent, "127.0.0.1", port_); }

  test::UserDataFixture user_;
  test::TempFolder folder_;
  int port_ = -1;
  std::unique_ptr<ChildProcess> serve_;
};
class FrontSlow : public Front {};  // ctest label slow: scripts/check runs them

TEST_F(Front, TakesTheToolsDownloadAndEntryAndStopsCleanly) {
  ASSERT_EQ(Download(), 0) << downloadStatusLine();
  const std::string table = Exchange(port_, "GET /sw/qlan/score.dat HTTP/1.0\n\n");
  EXPECT_TRUE(test::BodyOf(table).size() == 10888 &&
              test::S(test::ReadAll(user_.VendorPath("qlanb.ee"))) == test::BodyOf(table));
  // Query strings do not get past the table's cache: this second, one request at most
  // reached the server so far, and one more if the second turned meanwhile.
  for (int i = 1; i <= 6; ++i) {
    Exchange(port_, "GET /sw/qlan/score.dat?" + std::to_string(i) + " HTTP/1.0\n\n");
  }
  // The replay the server stored at start: the same bytes are the same entry.
  const std::string replay = test::KnownFile("replays/good/r710.replay");
  MemorySource source(reinterpret_cast<const unsigned char*>(replay.data()), replay.size());
  const char* id = PostReplayFrom(source, UserAgent, "127.0.0.1", port_).id;
  ASSERT_TRUE(id != nullptr && std::strlen(id) == 16) << serve_->output();
  const std::string page =
      Exchange(port_, "GET http://" + std::string(RankingHost) + kEntryPagePath +
                          "?UNIQUE_ID=" + id + " HTTP/1.1\nHost: x\nConnection: close\n\n");
  EXPECT_NE(test::BodyOf(page).find("<td>45,678m</td>"), std::string::npos) << page;
  const std::string index = Exchange(
      port_, "GET /sw/qlan/ HTTP/1.1\nHost: x\nAccept-Encoding: gzip\nConnection: close\n\n");
  for (const std::string& header : test::Cases(
           "Content-Encoding: gzip|Cache-Control: no-cache|X-Content-Type-Options: "
           "nosniff|Referrer-"
           "Policy: no-referrer|Content-Security-Policy: default-src 'none'; style-src 'sha256-")) {
    EXPECT_NE(index.find("\r\n" + header), std::string::npos) << header << "\n" << index;
  }
  EXPECT_NE(table.find("\r\nCache-Control: public, max-age=5\r\n"), std::string::npos);

  // Ctrl-C reaches the whole group: nginx ends too, the server logs its stop.
  const auto nginx =
      static_cast<int>(ReadDecimal(test::S(test::ReadAll(folder_.Join("serve/nginx.pid")))));
  EXPECT_EQ(serve_->Stop(SIGINT), 0) << serve_->output();
  EXPECT_TRUE(nginx > 0 && kill(nginx, 0) != 0) << nginx;
  const std::string log = test::S(test::ReadAll(folder_.Join("serve/server.log")));
  EXPECT_NE(log.find(" as " + std::string(id) + " (route 710)"), std::string::npos);
  EXPECT_NE(log.find(" 127.0.0.1 \"POST /sw/qlan/hsentry/0/\" 200 "), std::string::npos);
  EXPECT_NE(log.find("qlan-ranking-server stopped\n"), std::string::npos) << log;
  EXPECT_LE(test::Occurrences(log, "\"GET /sw/qlan/score.dat"), 2u) << log;
}

// Players opening entry pages at the same moment, wave after wave, half with an identifier
// that is not there, while 60 addresses hold 32 unfinished heads each (limit_conn counts none).
TEST_F(FrontSlow, EntryPagesInWavesAreAnsweredAtOnceBesideHeldHeads) {
  const std::string log = test::S(test::ReadAll(folder_.Join("serve/server.log")));
  const std::size_t as = log.find(" as ");
  ASSERT_NE(as, std::string::npos) << log;
  const std::string known = log.substr(as + 4, 16);
  std::vector<int> held;
  for (int i = 0; i < 60 * 32; ++i) {
    held.push_back(test::Connect(port_, ("127.0.0." + std::to_string(10 + i / 32)).c_str()));
    send(held.back(), "GET / HTTP/1.1\r\n", 16, MSG_NOSIGNAL);
  }
  Clock::duration slowest{};
  for (int wave = 0; wave < 3; ++wave) {
    std::vector<std::thread> players;
    std::mutex mutex;
    players.reserve(32);
    for (int i = 0; i < 32; ++i) {
      players.emplace_back([&, i] {
        const Clock::time_point start = Clock::now();
        const std::string page =
            Exchange(port_,
                     "GET /sw/qlan/hsentry/1/?UNIQUE_ID=" +
                         (i % 2 == 0 ? known : std::string("AAAAAAAAAAAAAAAA")) +
                         " HTTP/1.1\nHost: x\nConnection: close\n\n",
                     10000);
        const std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(test::StatusOf(page), i % 2 == 0 ? 200 : 404);
        slowest = std::max(slowest, Clock::now() - start);
      });
    }
    for (std::thread& t : players) t.join();
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  EXPECT_LT(slowest, std::chrono::seconds(1));
  for (const int fd : held) close(fd);
}

// The server killed, the front answers from its copies until scripts/serve has it back 2 s
// later, as systemd would.
TEST_F(FrontSlow, ServesItsCopiesWhileTheServerRestarts) {
  const auto status = [this](const std::string& path) {
    return test::StatusOf(Exchange(port_, "GET /sw/qlan/" + path + " HTTP/1.0\n\n"));
  };
  const std::string entry = "hsentry/1/?UNIQUE_ID=AAAAAAAAAAAAAAAA";  // never cached
  ASSERT_TRUE(status("score.dat") == 200 && status("ranking/710/") == 200);
  std::this_thread::sleep_for(std::chrono::seconds(2));  // the copies are out of date now
  kill(static_cast<pid_t>(ReadDecimal(test::S(test::ReadAll(folder_.Join("serve/server.pid"))))),
       SIGKILL);
  EXPECT_EQ(status(entry), 502);
  EXPECT_TRUE(status("score.dat") == 200 && status("ranking/710/") == 200);
  ASSERT_TRUE(serve_->WaitFor("restarting it in 2 s")) << serve_->output();
  for (int i = 0; i < 50 && status(entry) != 404; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(status(entry), 404);
}

TEST_F(FrontSlow, HoldsOffAnEntryFloodFromOneAddress) {
  // 30 different valid entries from one address in a row.
  const std::string replay = test::KnownFile("replays/good/r710.replay");
  int refused = 0;
  for (int i = 0; i < 30; ++i) {
    const int status =
        test::StatusOf(Exchange(port_, test::EntryPost(test::RunOf(replay, std::uint32_t(i) + 1))));
    EXPECT_TRUE(status == 200 || status == 429) << i << ": " << status;
    refused += status == 429;
  }
  EXPECT_GE(refused, 15);
  EXPECT_EQ(Download(), 0) << downloadStatusLine();
}

}  // namespace
}  // namespace qlan::server
