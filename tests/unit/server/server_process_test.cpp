// The server program as a process: its request log, a clean stop on SIGINT and SIGTERM,
// its refusal of bad options, and no acknowledged entry lost when it is killed outright.
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_env.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

using Clock = std::chrono::steady_clock;

class ServerProcess {
 public:
  explicit ServerProcess(std::vector<std::string> args) {
    args.insert(args.begin(), QLAN_SERVER_PROGRAM);
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
  }
  ~ServerProcess() {
    if (pid_ > 0) Stop(SIGKILL);
    if (out_ >= 0) close(out_);
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Reads output until text appears or 10 s pass.
  bool WaitForOutput(const std::string& text) {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (output_.find(text) == std::string::npos) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd p{out_, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return false;
      char buffer[4096];
      const ssize_t n = read(out_, buffer, sizeof buffer);
      if (n <= 0) return false;
      output_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }
  int Port() {
    if (!WaitForOutput("\n")) return -1;
    std::smatch m;
    return std::regex_search(output_, m, std::regex("listening on 127\\.0\\.0\\.1:(\\d+)"))
               ? std::stoi(m[1].str())
               : -1;
  }
  // Sends sig and waits (at most 10 s) for the exit; the exit status, or -1. Never signals
  // or waits for anything but the own child (kill(-1, ...) would reach every process).
  int Stop(int sig) {
    if (pid_ > 0) kill(pid_, sig);
    return Wait();
  }
  int Wait() {
    if (pid_ <= 0) return -1;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    WaitForOutput("\x01");  // collect what is left; ends at end of stream
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
};

std::string Upload(int port, const char* replay) {
  const std::string body = test::ToolFormBody(test::Base64Lines(test::KnownFile(replay)));
  return test::EntryIdIn(test::BodyOf(test::Exchange(port, test::ToolEntryRequest(body, true))));
}

TEST(ServerProcess, LogsEachRequestAndStopsCleanlyOnSigintAndSigterm) {
  for (const int sig : {SIGINT, SIGTERM}) {
    test::TempFolder folder;
    ServerProcess server({"--port", "0", "--db", folder.Join("r.db")});
    const int port = server.Port();
    ASSERT_GT(port, 0) << server.output();
    EXPECT_EQ(test::StatusOf(test::Exchange(port, "GET /sw/qlan/score.dat HTTP/1.0\n\n")), 200);
    ASSERT_TRUE(server.WaitForOutput("\"GET /sw/qlan/score.dat\" 200 10888"));
    // A client that holds a connection open without sending must not delay the stop.
    std::thread idle([port] { test::Exchange(port, "", 4000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(server.Stop(sig), 0) << server.output();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    idle.join();
    EXPECT_NE(server.output().find(sig == SIGINT ? "stopping (SIGINT)" : "stopping (SIGTERM)"),
              std::string::npos);
    EXPECT_NE(server.output().find("qlan-ranking-server stopped\n"), std::string::npos);
  }
}

TEST(ServerProcess, KilledOutrightKeepsEveryAcknowledgedEntryAndAddsReplaysAtRestart) {
  test::TempFolder folder;
  const std::string db = folder.Join("r.db");
  std::vector<std::string> ids;
  {
    ServerProcess server({"--port", "0", "--db", db, "--quiet"});
    const int port = server.Port();
    ASSERT_GT(port, 0) << server.output();
    for (int i = 0; i < 3; ++i) {
      ids.push_back(Upload(port, i % 2 ? "replays/good/r745.replay" : "replays/good/r710.replay"));
      ASSERT_EQ(ids.back().size(), 16u);
    }
    EXPECT_EQ(server.Stop(SIGKILL), 128 + SIGKILL);
  }
  ServerProcess again({"--port", "0", "--db", db, "--quiet", "--add-replay",
                       test::TestDataPath("replays/good/r712.replay")});
  ASSERT_TRUE(again.WaitForOutput("listening")) << again.output();
  std::smatch m;
  const std::string out = again.output();
  ASSERT_TRUE(std::regex_search(out, m, std::regex("as (\\S{16}) \\(route 712\\)"))) << out;
  ids.push_back(m[1].str());
  const int port = again.Port();
  for (const std::string& id : ids) EXPECT_EQ(test::EntryPageStatus(port, id), 200) << id;
  EXPECT_EQ(again.Stop(SIGTERM), 0);
}

TEST(ServerProcess, RefusesMissingOrBadOptions) {
  test::TempFolder folder;
  const std::string db = folder.Join("r.db");
  const std::vector<std::vector<std::string>> bad = {
      {"--port", "8080"},
      {"--db", db},
      {"--port", "65536", "--db", db},
      {"--port", "x", "--db", db},
      {"--port", "0", "--db", db, "--synchronous", "off"},
      {"--port", "0", "--db", db, "--bogus", "1"},
      {"--port", "0", "--db", db, "--add-replay",
       test::TestDataPath("replays/bad/bad-checksum-r710.replay")},
  };
  for (const auto& args : bad) {
    ServerProcess server(args);
    const int code = server.Wait();
    EXPECT_TRUE(code == 1 || code == 2) << args[0] << " " << args[1] << ": " << code;
  }
  ServerProcess help({"--help"});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(help.output().find("--synchronous"), std::string::npos);
}

}  // namespace
}  // namespace qlan::server
