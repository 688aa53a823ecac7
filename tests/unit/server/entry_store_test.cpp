// The store: databases of older versions upgraded in place, and faults of the file under
// a running server found, answered and logged.
#include "server/entry_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "server/ranking_service.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

using test::EntryRequest;
using test::Exchange;
using test::kDownload;
using test::StatusOf;

// Databases before digests and with digests of every header word: every entry stays, the
// first copy of a run (route and payload) is found again, later copies stay entries.
TEST(EntryStoreUpgrade, KeepsEveryEntryAndFindsARunByItsFirstCopy) {
  const auto hex = [](const std::string& bytes) {
    std::string out = "X'";
    for (const char c : bytes)
      out += "0123456789ABCDEF"[(c >> 4) & 15], out += "0123456789ABCDEF"[c & 15];
    return out + "'";
  };
  std::string run = test::KnownFile("replays/good/r710.replay");
  const std::string values = "('AAAAAAAAAAAAAAAA', 710, 1, 1, 1, " + hex(run) + "%), " +
                             "('BBBBBBBBBBBBBBBB', 710, 1, 1, 2, " + hex((run[27] = 1, run)) +
                             "%), ('CCCCCCCCCCCCCCCC', 745, 1, 1, 3, " +
                             hex(test::KnownFile("replays/good/r745.replay")) + "%);";
  const std::string columns =
      "CREATE TABLE entries (id TEXT NOT NULL UNIQUE, route INTEGER NOT NULL CHECK (route BETWEEN"
      " 710 AND 749), time_ticks INTEGER NOT NULL, distance INTEGER NOT NULL, created INTEGER NOT"
      " NULL, replay BLOB NOT NULL";
  const std::string note =
      "gave 2 entries the digest of their route and payload; 1 later copies "
      "of a run kept as entries without one (ranked and shown as before; a "
      "new post of the run is answered with the first)";
  for (const auto& [schema, digests, after] :
       {std::tuple(");", "", note + "; entries can be withdrawn now"),
        std::tuple(", digest BLOB UNIQUE, hidden INTEGER NOT NULL DEFAULT 0);",
                   ", randomblob(32), 0", note)}) {
    test::TempFolder folder;
    const std::string path = folder.Join("old.db");
    std::string sql = columns + schema;
    sql += " INSERT INTO entries VALUES " + values;
    for (std::size_t at; (at = sql.find('%')) != std::string::npos;) sql.replace(at, 1, digests);
    ASSERT_EQ(test::Sql(path, sql), "") << sql;

    EntryStore store;
    std::string error;
    ASSERT_TRUE(store.Open(path, false, &error)) << error;
    EXPECT_EQ(store.UpgradeNote(), after);
    RankingService service(store);
    StoredEntry entry;
    ASSERT_EQ(service.AddReplay((run[27] = 2, run), 9, &entry), Outcome::kOk);
    EXPECT_EQ(entry.id, "AAAAAAAAAAAAAAAA");
    EXPECT_EQ(test::StoredCount(store), 3u);
    EXPECT_EQ(store.SetHidden("CCCCCCCCCCCCCCCC", true, "test", 9), StoreResult::kOk);
    EXPECT_EQ(test::StoredCount(store), 2u);
    store.Close();
    ASSERT_TRUE(store.Open(path, false, &error)) << error;
    EXPECT_EQ(store.UpgradeNote(), "");
    store.Close();  // and it is marked as the ranking's now
    EXPECT_EQ(test::Sql(path, "PRAGMA application_id"), std::to_string(0x514C524B));  // "QLRK"
  }
}

// An entry is acknowledged only once it is kept where a restart finds it; each storage
// failure's cause is logged when found and then at most once a minute.
TEST(EntryStoreFaults, RefusesEntriesOnceTheDatabaseIsGoneAndLogsEachFaultsCause) {
  test::TempFolder folder;
  const std::string db = folder.Join("data/ranking.db");
  const auto logged = [](const std::vector<std::string>& log, const std::string& text) {
    std::size_t n = 0;
    for (const std::string& line : log) n += test::Occurrences(line, text);
    return n;
  };
  for (const bool corrupt : {false, true}) {
    std::filesystem::create_directory(folder.Join("data"));
    std::optional<test::RunningServer> server(db);
    ASSERT_EQ(StatusOf(Exchange(server->port(), EntryRequest(1))), 200);
    if (corrupt) {  // every page after the first overwritten while the server is stopped
      server.reset();
      std::fstream file(db, std::ios::in | std::ios::out | std::ios::binary);
      file.seekp(4096);
      file << std::string(std::filesystem::file_size(db) - 4096, '\xff');
      file.close();
      server.emplace(db);
    } else {
      std::filesystem::remove_all(folder.Join("data"));
    }
    for (std::uint32_t i = 0; i < 3; ++i) {
      EXPECT_EQ(StatusOf(Exchange(server->port(), corrupt ? kDownload : EntryRequest(2 + i))),
                corrupt ? 500 : 503);
    }
    server->Stop();
    EXPECT_EQ(logged(server->log(), corrupt ? "database disk image is malformed (SQLite code 11); "
                                              "the database is damaged: stop the server, then "
                                              "restore the last backup or save what is readable "
                                              "with sqlite3 FILE .recover"
                                            : "the database is no longer the file at its path"),
              1u);
    std::filesystem::remove_all(folder.Join("data"));
  }
}

}  // namespace
}  // namespace qlan::server
