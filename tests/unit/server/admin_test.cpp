// The operator's commands as the program runs them, beside a server that serves the same
// database from this process: what they print, and what the server shows at once.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>

#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

TEST(Admin, ChangesFromAnotherProcessReachTheRunningServersTableAndPages) {
  test::TempFolder folder;
  const std::string db = folder.Join("ranking.db");
  test::RunningServer server(db);
  ASSERT_TRUE(server.ok());
  const auto get = [&server](const std::string& path) {
    return test::Exchange(server.port(), "GET " + path + " HTTP/1.0\n\n");
  };
  const std::string replay = test::KnownFile("replays/good/r710.replay");
  const std::string id =
      test::EntryIdIn(test::BodyOf(test::Exchange(server.port(), test::EntryPost(replay))));
  ASSERT_EQ(id.size(), 16u);
  const std::string table = test::BodyOf(get("/sw/qlan/score.dat"));
  const std::string page = "/sw/qlan/hsentry/1/?UNIQUE_ID=" + id;
  const std::string saved = folder.Join("saved.replay");
  const std::string copy = folder.Join("copy.db");
  ASSERT_EQ(symlink(saved.c_str(), folder.Join("link").c_str()), 0);
  sqlite3* writer = nullptr;  // holds the write lock while the reading commands run
  ASSERT_EQ(sqlite3_open(db.c_str(), &writer), SQLITE_OK);

  // Arguments, exit code, a text in the output; in this order.
  const std::tuple<std::string, int, std::string> steps[] = {
      {"hide " + id + " 'cheated run'", 0, "withdrew " + id},
      {"hide " + id + " again", 1, id + " is withdrawn already; nothing changed"},
      {"list --route 710", 0, id + "  R 710  45,678m  "},
      {"show " + id, 0, "  withdrawn: cheated run\n"},
      {"unhide " + id, 0, "returned " + id},
      {"show " + id, 0, " (JST)  returned\n"},
      {"export " + id + " " + saved, 0,
       "wrote " + std::to_string(replay.size()) + " bytes (R 710) to " + saved},
      {"export " + id + " " + saved, 1, "cannot create " + saved + ": File exists"},
      {"export " + id + " " + folder.Join("link"), 1, ": File exists"},
      {"export " + id + " " + folder.Join("./ranking.db-journal"), 1, "the database or one of"},
      {"backup " + copy, 0, "backed up "},
      {"backup " + copy, 1, "cannot create "},
      {"--db " + copy + " show " + id, 0, "rank 1 of 1 on R 710"},
      {"hide " + id + " \"$(printf 'a\\033[2Jb')\"", 2, "may not hold control characters"},
      {"show AAAAAAAAAAAAAAAA", 1, "no entry AAAAAAAAAAAAAAAA"},
      {"list --route 709", 2, "usage: "},
      {"frobnicate", 2, "usage: "},
      {"--db " + folder.Join("none.db") + " list", 1, "no database at "},  // and none made
  };
  for (const auto& [words, code, text] : steps) {
    std::string command = QLAN_SERVER_PROGRAM " admin ";
    command.append(words.rfind("--db", 0) == 0 ? "" : "--db " + db + " ").append(words);
    const bool reads = words.find("hide ") == std::string::npos;
    EXPECT_TRUE(!reads || sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == 0);
    test::ChildProcess admin(command);
    EXPECT_EQ(admin.Stop(0), code) << words << "\n" << admin.output();
    if (reads) sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
    EXPECT_NE(admin.output().find(text), std::string::npos) << words << "\n" << admin.output();
    if (words.rfind("hide", 0) == 0 && code == 0) {
      EXPECT_EQ(test::BodyOf(get("/sw/qlan/score.dat")),
                test::KnownFile("highscore/empty-table.ee"));
      EXPECT_EQ(test::StatusOf(get(page)), 410);
      EXPECT_EQ(test::StatusOf(get("/sw/qlan/replay/" + id)), 410);
      EXPECT_EQ(get("/sw/qlan/ranking/710/").find(id), std::string::npos);
    }
    if (words.rfind("unhide", 0) == 0) {
      EXPECT_EQ(test::BodyOf(get("/sw/qlan/score.dat")), table);
      const std::string download = get("/sw/qlan/replay/" + id);
      EXPECT_NE(download.find("\r\nContent-Disposition: attachment; filename=\"r710.replay\"\r\n"),
                std::string::npos);
      EXPECT_EQ(test::BodyOf(download), replay);
    }
  }
  sqlite3_close(writer);
  EXPECT_EQ(test::S(test::ReadAll(saved)), replay);
  EXPECT_NE(access(folder.Join("none.db").c_str(), F_OK), 0);

  // A reason stored raw (as an older version did) cannot forge a line or drive the terminal;
  // a read-only copy in a read-only folder is read as it is, nothing made beside it.
  ASSERT_EQ(server.store().SetHidden(id, true, "a\x1b[2J\r\nreturned\xc2\x80\xc2\x9f", 9),
            StoreResult::kOk);
  server.Stop();
  const std::string user = test::AsUnprivileged(), readOnly = folder.Join("ro/ranking.db");
  if (user.empty()) GTEST_SKIP() << "root cannot run the reading commands as another user here";
  std::filesystem::create_directory(folder.Join("ro"));
  std::filesystem::copy_file(db, readOnly);
  chmod(readOnly.c_str(), 0444);
  chmod(folder.Join("ro").c_str(), 0555);
  test::ChildProcess show(user + " " QLAN_SERVER_PROGRAM " admin --db " + readOnly + " show " + id);
  EXPECT_EQ(show.Stop(0), 0) << show.output();
  EXPECT_NE(show.output().find("withdrawn: a\\x1b[2J\\x0d\\x0areturned\\xc2\\x80\\xc2\\x9f\n"),
            std::string::npos)
      << show.output();
  EXPECT_FALSE(std::filesystem::exists(readOnly + "-shm"));
  chmod(folder.Join("ro").c_str(), 0755);
}

}  // namespace
}  // namespace qlan::server
