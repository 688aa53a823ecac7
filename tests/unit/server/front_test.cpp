// The service as scripts/serve runs it (nginx in front of the server): the tool's own download
// and entry code through it in proxy mode; trickling clients and entry floods held off (slow).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>

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
    port_ = test::RunningServer(folder_.Join("probe.db")).port();  // free a moment ago
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

TEST_F(Front, TakesTheToolsDownloadAndEntryAndStopsCleanly) {
  ASSERT_EQ(Download(), 0) << downloadStatusLine();
  const std::string table = test::BodyOf(Exchange(port_, "GET /sw/qlan/score.dat HTTP/1.0\n\n"));
  EXPECT_TRUE(table.size() == 10888 &&
              test::S(test::ReadAll(user_.VendorPath("qlanb.ee"))) == table);
  // The replay the server stored at start: the same bytes are the same entry.
  const std::string replay = test::KnownFile("replays/good/r710.replay");
  MemorySource source(reinterpret_cast<const unsigned char*>(replay.data()), replay.size());
  const char* id = postReplayFrom(source, UserAgent, "127.0.0.1", port_).id;
  ASSERT_TRUE(id != nullptr && std::strlen(id) == 16) << serve_->output();
  const std::string page =
      Exchange(port_, "GET http://" + std::string(RankingHost) + kEntryPagePath +
                          "?UNIQUE_ID=" + id + " HTTP/1.1\nHost: x\nConnection: close\n\n");
  EXPECT_NE(test::BodyOf(page).find("<td>45,678m</td>"), std::string::npos) << page;

  // Ctrl-C reaches the whole group: nginx ends too, the server logs its stop.
  const auto nginx =
      static_cast<int>(ReadDecimal(test::S(test::ReadAll(folder_.Join("serve/nginx.pid")))));
  EXPECT_EQ(serve_->Stop(SIGINT), 0) << serve_->output();
  EXPECT_TRUE(nginx > 0 && kill(nginx, 0) != 0) << nginx;
  const std::string log = test::S(test::ReadAll(folder_.Join("serve/server.log")));
  EXPECT_NE(log.find(" as " + std::string(id) + " (route 710)"), std::string::npos);
  EXPECT_NE(log.find(" 127.0.0.1 \"POST /sw/qlan/hsentry/0/\" 200 "), std::string::npos);
  EXPECT_NE(log.find("qlan-ranking-server stopped\n"), std::string::npos) << log;
}

// Run by scripts/check (ctest label slow), not by scripts/test.
TEST_F(Front, DISABLED_HoldsOffTricklingClientsAndEntryFloods) {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur < 1024) {
    GTEST_SKIP() << "needs 1024 file descriptors (ulimit -n)";
  }
  // 256 heads from this address, 32 bodies from one address each, a byte every 2 s.
  std::vector<int> slow;
  for (int i = 0; i < 288; ++i) {
    const std::string from = "127.0.0." + std::to_string(i < 256 ? 1 : i - 254);
    const std::string opening = i < 256
                                    ? "GET /sw/qlan/score.dat HTTP/1.1\nX-A: "
                                    : "POST /sw/qlan/hsentry/0/ HTTP/1.1\nContent-Length: 9999\n\n";
    slow.push_back(test::Connect(port_, from.c_str()));
    send(slow.back(), opening.data(), opening.size(), MSG_NOSIGNAL);
  }
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    for (int tick = 1; !done; ++tick) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      for (std::size_t i = 0; tick % 20 == 0 && i < slow.size(); ++i) {
        send(slow[i], "a", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      }
    }
  });
  Clock::duration slowest{};
  for (int i = 0; i < 40; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(Download(), 0) << i << ": " << downloadStatusLine();
    slowest = std::max(slowest, Clock::now() - start);
  }
  done = true;
  trickle.join();
  for (const int fd : slow) close(fd);
  EXPECT_LT(slowest, std::chrono::seconds(1));

  // 30 different valid entries from one address in a row.
  std::string replay = test::KnownFile("replays/good/r710.replay");
  int refused = 0;
  for (int i = 0; i < 30; ++i) {
    replay[4] = static_cast<char>(i + 1);  // another time: other bytes, still valid
    const int status = test::StatusOf(Exchange(port_, test::ToolRequest(test::ReplayForm(replay))));
    EXPECT_TRUE(status == 200 || status == 429) << i << ": " << status;
    refused += status == 429;
  }
  EXPECT_GE(refused, 15);
  EXPECT_EQ(Download(), 0) << downloadStatusLine();
}

}  // namespace
}  // namespace qlan::server
