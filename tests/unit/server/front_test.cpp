// The service as deployed, started by scripts/serve (nginx in front of the server) on a
// free loopback port: the tool's own download and entry code through it in proxy mode,
// and (label slow) slow clients and an entry flood held off by the front.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "app/byte_source.h"
#include "net/download.h"
#include "net/ranking.h"
#include "net/upload.h"
#include "records/replay.h"
#include "support/temp_env.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

using Clock = std::chrono::steady_clock;

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

class Front : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/usr/sbin/nginx", X_OK) != 0) GTEST_SKIP() << "nginx is not installed";
    port_ = FreePort();
    const test::ScopedEnv program("QLAN_SERVER_PROGRAM", QLAN_SERVER_PROGRAM);
    serve_ = std::make_unique<test::ChildProcess>(std::vector<std::string>{
        QLAN_SERVE_SCRIPT, "--port", std::to_string(port_), "--dir", folder_.Join("serve")});
    ASSERT_TRUE(serve_->WaitForOutput("serve: http://")) << serve_->output();
  }
  const char* const host_ = "127.0.0.1";
  test::UserDataFixture user_;
  test::TempFolder folder_;
  int port_ = -1;
  std::unique_ptr<test::ChildProcess> serve_;
};

TEST_F(Front, TakesTheToolsDownloadAndEntriesAndStopsCleanly) {
  ASSERT_EQ(downloadHighScores(UserAgent, host_, port_), 0) << downloadStatusLine();
  EXPECT_EQ(test::ReadFileBytes(user_.VendorPath("qlanb.ee")),
            test::KnownFile("highscore/empty-table.ee"));
  const std::string replay = test::KnownFile("replays/good/r710.replay");
  auto post = [&](const std::string& bytes) {
    MemorySource source(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    const EntryResult result = postReplayFrom(source, UserAgent, host_, port_);
    return result == nullptr || result == kEntryTooLarge ? std::string() : std::string(result);
  };
  const std::string id = post(replay);
  ASSERT_EQ(id.size(), 16u) << serve_->output();
  const std::string page =
      test::Exchange(port_, "GET http://" + std::string(RankingHost) + kEntryPagePath +
                                "?UNIQUE_ID=" + id + " HTTP/1.1\nHost: " + RankingHost +
                                "\nConnection: close\n\n");
  ASSERT_EQ(test::StatusOf(page), 200) << page;
  EXPECT_NE(test::BodyOf(page).find("<td>45,678m</td>"), std::string::npos);
  EXPECT_EQ(post(replay), id);

  // The largest replay the tool sends gets through the front's body limit.
  std::string largest(3097332, '\0');
  const auto payload = static_cast<std::uint32_t>(largest.size() - kReplayHeaderSize);
  for (std::size_t i = kReplayHeaderSize; i < largest.size(); ++i) {
    largest[i] = static_cast<char>(i * 7);
  }
  const std::uint32_t checksum = ReplayChecksum(
      749, 0, reinterpret_cast<const unsigned char*>(largest.data()) + kReplayHeaderSize, payload);
  largest.replace(0, 4, "QLNR");
  for (const auto& [at, value] : {std::pair{12u, 749u}, {56u, checksum}, {60u, payload}}) {
    for (unsigned k = 0; k < 4; ++k) largest[at + k] = static_cast<char>(value >> (24 - 8 * k));
  }
  EXPECT_EQ(post(largest).size(), 16u);

  // Ctrl-C reaches the whole group: everything ends, the server cleanly.
  const int nginx = std::stoi("0" + test::ReadFileBytes(folder_.Join("serve/nginx.pid")));
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(serve_->Stop(SIGINT), 0) << serve_->output();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_NE(nginx, 0);
  EXPECT_NE(kill(nginx, 0), 0);
  EXPECT_NE(test::ReadFileBytes(folder_.Join("serve/server.log")).find("server stopped\n"),
            std::string::npos);
}

// Run by scripts/check (ctest label slow), not by scripts/test.
TEST_F(Front, DISABLED_HoldsOffTricklingClientsAndEntryFloods) {
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_cur < 1024 && files.rlim_max >= 1024) {
    files.rlim_cur = 1024;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  if (files.rlim_cur < 1024) GTEST_SKIP() << "needs 1024 file descriptors";
  // 256 heads from this address, 32 bodies from one address each, a byte every 2 s; a
  // connection the front has closed is opened again.
  struct Trickler {
    std::string opening;
    std::string from;
    int fd = -1;
  };
  std::vector<Trickler> slow;
  for (int i = 0; i < 256; ++i) slow.push_back({"GET /sw/qlan/score.dat HTTP/1.1\nX-A: ", "127.0.0.1"});
  for (int i = 0; i < 32; ++i) {
    slow.push_back({"POST /sw/qlan/hsentry/0/ HTTP/1.1\nContent-Type: multipart/form-data; "
                    "boundary=------AaXx00\nContent-Length: 100000\n\n",
                    "127.0.0." + std::to_string(2 + i)});
  }
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    for (int round = 0; round < 11 && !done; ++round) {
      for (Trickler& t : slow) {
        if (t.fd >= 0 && send(t.fd, "a", 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1) continue;
        if (t.fd >= 0) close(t.fd);
        t.fd = test::Connect(port_, t.from.c_str());
        if (t.fd >= 0) send(t.fd, t.opening.data(), t.opening.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      }
      for (int i = 0; i < 20 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  Clock::duration slowest{};
  for (int i = 0; i < 40; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(downloadHighScores(UserAgent, host_, port_), 0) << i << ": " << downloadStatusLine();
    slowest = std::max(slowest, Clock::now() - start);
  }
  done = true;
  trickle.join();
  for (const Trickler& t : slow) {
    if (t.fd >= 0) close(t.fd);
  }
  EXPECT_LT(slowest, std::chrono::seconds(1));

  // 30 different valid entries from one address in a row.
  std::string replay = test::KnownFile("replays/good/r710.replay");
  int refused = 0;
  for (int i = 0; i < 30; ++i) {
    replay[4] = static_cast<char>(i + 1);  // another time: other bytes, still valid
    const int status = test::StatusOf(test::Exchange(port_, test::ToolEntryFor(replay)));
    EXPECT_TRUE(status == 200 || status == 429) << i << ": " << status;
    refused += status == 429;
  }
  EXPECT_GE(refused, 15);
  std::printf("slowest download %lld ms; %d of 30 entries refused\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count()), refused);
  EXPECT_EQ(downloadHighScores(UserAgent, host_, port_), 0) << downloadStatusLine();
}

}  // namespace
}  // namespace qlan::server
