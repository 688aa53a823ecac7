// The server program as a process: its request log, a clean stop on SIGINT and SIGTERM,
// its refusal of bad options, and no acknowledged entry lost when it is killed outright.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_env.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

using test::ChildProcess;

ChildProcess StartServer(std::vector<std::string> args) {
  args.insert(args.begin(), QLAN_SERVER_PROGRAM);
  return ChildProcess(std::move(args));
}

TEST(ServerProcess, LogsEachRequestAndStopsCleanlyOnSigintAndSigterm) {
  for (const int sig : {SIGINT, SIGTERM}) {
    test::TempFolder folder;
    ChildProcess server = StartServer({"--port", "0", "--db", folder.Join("r.db")});
    const int port = server.NumberAfter("listening on 127.0.0.1:");
    ASSERT_GT(port, 0) << server.output();
    EXPECT_EQ(test::StatusOf(test::Exchange(port, "GET /sw/qlan/score.dat HTTP/1.0\n\n")), 200);
    ASSERT_TRUE(server.WaitForOutput(" 127.0.0.1 \"GET /sw/qlan/score.dat\" 200 10888 "));
    // A client that holds a connection open without sending must not delay the stop.
    std::thread idle([port] { test::Exchange(port, "", 4000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(server.Stop(sig), 0) << server.output();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
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
    ChildProcess server = StartServer({"--port", "0", "--db", db, "--quiet"});
    const int port = server.NumberAfter("listening on 127.0.0.1:");
    ASSERT_GT(port, 0) << server.output();
    for (const char* replay : {"replays/good/r710.replay", "replays/good/r745.replay"}) {
      const std::string reply = test::Exchange(port, test::ToolEntryFor(test::KnownFile(replay)));
      ids.push_back(test::EntryIdIn(test::BodyOf(reply)));
      ASSERT_EQ(ids.back().size(), 16u);
    }
    EXPECT_EQ(server.Stop(SIGKILL), 128 + SIGKILL);
  }
  ChildProcess again = StartServer({"--port", "0", "--db", db, "--quiet", "--add-replay",
                                    test::TestDataPath("replays/good/r712.replay")});
  ASSERT_TRUE(again.WaitForOutput(" (route 712)\n")) << again.output();
  const std::size_t as = again.output().find(" as ");
  ASSERT_NE(as, std::string::npos);
  ids.push_back(again.output().substr(as + 4, 16));
  const int port = again.NumberAfter("listening on 127.0.0.1:");
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
    ChildProcess server = StartServer(args);
    const int code = server.Wait();
    EXPECT_TRUE(code == 1 || code == 2) << args[0] << " " << args[1] << ": " << code;
  }
  ChildProcess help = StartServer({"--help"});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(help.output().find("--behind-front"), std::string::npos);
}

}  // namespace
}  // namespace qlan::server
