// Entries through the service: the form, validation, storage, ranks, pages and the score
// table; no network here.
#include "server/ranking_service.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <set>

#include "server/base64_decode.h"
#include "server/entry_id.h"
#include "server/multipart.h"
#include "server/score_table.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

constexpr char kToolType[] = "multipart/form-data; boundary=------AaXx00";
constexpr char kB[] = "multipart/form-data; boundary=b";

std::string FormFor(const char* known) { return test::ReplayForm(test::KnownFile(known)); }

class RankingServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(store_.Open(folder_.Join("ranking.db"), false, &error)) << error;
  }

  test::TempFolder folder_;
  EntryStore store_;
  RankingService service_{store_};
};

// Entries that waited together: one transaction, the same run twice one entry, and an entry
// the database refuses leaves the others stored.
TEST_F(RankingServiceTest, StoresABatchTogetherOneEntryPerRunAndARefusalApart) {
  std::vector<NewEntry> batch(4);
  for (std::size_t i = 0; i < batch.size(); ++i) {
    const char* route[] = {"710", "745", "710", "712"};
    const std::string form =
        FormFor(("replays/good/r" + std::string(route[i]) + ".replay").c_str());
    ASSERT_EQ(service_.ReadEntry(kToolType, form, 5, {}, &batch[i]), Outcome::kOk);
  }
  batch[3].entry.route = 9;  // no route of the table: the database refuses it
  const std::vector<Reply> replies = service_.StoreEntries(batch);
  EXPECT_EQ(test::EntryIdIn(replies[0].body), test::EntryIdIn(replies[2].body));
  EXPECT_NE(test::EntryIdIn(replies[0].body), test::EntryIdIn(replies[1].body));
  EXPECT_EQ(HttpStatus(replies[3].outcome), 503);
  EXPECT_EQ(test::StoredCount(store_), 2u);
}

TEST_F(RankingServiceTest, StoresTheToolsFormRanksItByTimeWithinTheRouteAndShowsItsPage) {
  const std::string replay = test::KnownFile("replays/good/r745.replay");
  std::string slower = test::RunOf(replay, 1);
  slower[7] = static_cast<char>(slower[7] + 1);  // one tick more
  StoredEntry second;
  StoredEntry stored;
  ASSERT_EQ(service_.AddReplay(slower, 1, &second), Outcome::kOk);
  ASSERT_EQ(service_.AddReplay(test::KnownFile("replays/good/r710.replay"), 2, &stored),
            Outcome::kOk);
  const Reply reply = service_.PostEntry(kToolType, test::ReplayForm(replay), 1700000000);
  ASSERT_EQ(reply.outcome, Outcome::kOk) << reply.body;
  const std::string id = test::EntryIdIn(reply.body);
  ASSERT_TRUE(IsEntryIdShape(id) && id != second.id) << reply.body;
  EXPECT_NE(service_.EntryPage(second.id).body.find("<td>2位 / 2件中</td>"), std::string::npos);
  // The same run again, with or without bytes after it: the stored entry, its date unchanged.
  for (const std::size_t extra : {0u, 1u, 2u, 300u}) {
    ASSERT_EQ(service_.AddReplay(replay + std::string(extra, 'x'), 9, &stored), Outcome::kOk);
    EXPECT_EQ(std::tuple(stored.id, stored.created), std::tuple(id, std::int64_t{1700000000}));
  }
  // A preamble before the first delimiter is passed over.
  const Reply again = service_.PostEntry(kToolType, "preamble\n" + test::ReplayForm(replay), 5);
  EXPECT_EQ(test::EntryIdIn(again.body), id);
  EXPECT_EQ(test::StoredCount(store_), 3u);

  const Reply page = service_.EntryPage(id);
  ASSERT_EQ(page.outcome, Outcome::kOk);
  // 1700000000 is 2023-11-14 22:13:20 UTC, 2023-11-15 07:13 in Japan.
  for (const char* text :
       {"<meta charset=\"utf-8\">", "<td>R 745</td>", "<td>3,456km</td>", "<td>1:23&#39;20</td>",
        "<td>2023-11-15 07:13 (JST)</td>", "<td>1位 / 2件中</td>"}) {
    EXPECT_NE(page.body.find(text), std::string::npos) << text;
  }
  for (const std::string& bad : {std::string("' OR 1=1 --xxxxx"), std::string(17, 'A')}) {
    EXPECT_EQ(HttpStatus(service_.EntryPage(bad).outcome), 404) << bad;
  }
  EXPECT_NE(service_.EntryPage("").body.find("<title>エラー 404</title>"), std::string::npos);
}

// A part from its Content-Disposition value on.
std::string Part(std::string_view rest) { return "--b\nContent-Disposition: " + std::string(rest); }

TEST_F(RankingServiceTest, RefusesBadFormsAndReplaysAndStoresNothing) {
  const std::string good = test::Base64Lines(test::KnownFile("replays/good/r710.replay"));
  const std::string part = "--------AaXx00\nContent-Disposition: form-data; name=";
  const std::string end = "\n--------AaXx00--";
  std::vector<std::tuple<std::string, std::string, Outcome>> cases = {
      {kToolType, part + "\"other\"\n\n" + good + end, Outcome::kNoReplay},
      {kToolType, part + "\"frep\"\n\n" + good + "\n" + part + "\"frep\"\n\n" + good + end,
       Outcome::kRepeatedReplay},
      {kToolType, part + "\"frep\"\n\n" + end, Outcome::kInvalidReplay},
      {kToolType, FormFor("replays/bad/bad-checksum-r710.replay"), Outcome::kInvalidReplay},
      {kToolType, FormFor("replays/bad/huge-length-r710.replay"), Outcome::kInvalidReplay},
      {kToolType, std::string(kMaxEntryBody + 1, 'x'), Outcome::kBodyTooLarge}};
  // Base64 text: the alphabet, groups, padding, blanks; one with a single pad sign decodes.
  for (const std::string& text : test::Cases("QUJD!!!!|QUJ|Q===|=QUJ|QU=D|QUI=QUJD|QUI==|QU D")) {
    std::string form = part + "\"frep\"\n\n";
    form += text;
    form += end;
    cases.emplace_back(kToolType, form, Outcome::kBadBase64);
  }
  std::string decoded;
  EXPECT_TRUE(DecodeBase64("TW\r\nFu\n+/+/TWE=", &decoded, 8) && decoded == "Man\xfb\xff\xbfMa");
  // Forms refused whole: other types, bad boundaries, limits, cut or malformed parts.
  const std::string b71(71, 'b');
  std::string many;
  for (std::size_t i = 0; i <= kMaxFormParts; ++i) many += Part("form-data; name=f\n\nv\n");
  std::string manyLines = Part("form-data; name=x\n");
  for (std::size_t i = 0; i < kMaxPartHeaderLines; ++i) manyLines += "X-A: 1\n";
  std::vector<std::pair<std::string, std::string>> forms = {
      {"text/plain", FormFor("replays/good/r710.replay")},
      {kToolType, part + "\"frep\"\n\nQUJD\n"},
      {"multipart/form-data; boundary=" + b71,
       "--" + b71 + "\nContent-Disposition: form-data; name=frep\n\nv\n--" + b71 + "--"},
      {kB, many + "--b--"},
      {kB, manyLines + "\nv\n--b--"},
      {kB, Part("form-data; name=x\nX: " + std::string(kMaxPartHeaderLine, 'a') + "\n\nv\n--b--")},
      {kB, "--b\nContent-Type: text/plain\n\nx\n--b--"},
      {kB, "--bX\nContent-Disposition: form-data; name=frep\n\nx\n--b--"}};
  for (const std::string& type : test::Cases("multipart/form-data|multipart/form-data; boundary=|"
                                             "multipart/form-data; boundary=\"b")) {
    forms.emplace_back(type, Part("form-data; name=frep\n\nv\n--b--"));
  }
  for (const std::string& rest :
       test::Cases("form-data\n\nx\n--b--|attachment; name=frep\n\nx\n--b--|"
                   "form-data; name=\n\nx\n--b--|form-data; name=\"\"\n\nx\n--b--|"
                   "form-data; name=frep\nbogus\n\nx\n--b--")) {
    forms.emplace_back(kB, Part(rest));
  }
  for (const auto& [type, body] : forms) cases.emplace_back(type, body, Outcome::kBadForm);
  for (const auto& [type, body, outcome] : cases) {
    const Reply reply = service_.PostEntry(type, body, 5);
    EXPECT_EQ(reply.outcome, outcome) << type << "\n" << body.substr(0, 200);
    EXPECT_EQ(reply.body.find("**ID:"), std::string::npos);
  }
  EXPECT_EQ(test::StoredCount(store_), 0u);
}

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
    sqlite3* old = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &old), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(old, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    sqlite3_close(old);

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
    ASSERT_EQ(sqlite3_open(path.c_str(), &old), SQLITE_OK);
    sqlite3_stmt* mark = nullptr;
    sqlite3_prepare_v2(old, "PRAGMA application_id", -1, &mark, nullptr);
    EXPECT_EQ(sqlite3_step(mark), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int64(mark, 0), 0x514C524B);  // "QLRK"
    sqlite3_finalize(mark);
    sqlite3_close(old);
  }
}

// One run posted with each reserved header word changed is one entry.
TEST_F(RankingServiceTest, IsOneEntryWhateverItsReservedHeaderWordsSay) {
  std::string run = test::KnownFile("replays/good/r710.replay");
  std::set<std::string> ids;
  for (std::size_t i = 0; i < 16; ++i) {
    run[4 + 4 * (5 + i % 7) + 3] = static_cast<char>(i + 1);  // words 5 to 11
    ids.insert(test::EntryIdIn(service_.PostEntry(kToolType, test::ReplayForm(run), 5).body));
  }
  EXPECT_EQ(ids.size(), 1u);
  EXPECT_EQ(ids.count(""), 0u);
}

TEST(ScoreTable, IsTheToolsEmptyTableWithoutEntriesAndHoldsTheBestInRankOrder) {
  const std::vector<unsigned char> empty = BuildHighScoreFile({});
  EXPECT_EQ(std::string(empty.begin(), empty.end()), test::KnownFile("highscore/empty-table.ee"));
  EXPECT_EQ(BuildHighScoreFile(std::vector<RouteStanding>(40)), empty);

  std::vector<RouteStanding> routes(40);
  routes[1].count = 17;
  for (int i = 0; i < 16; ++i) {
    routes[1].best.push_back({std::string(15, static_cast<char>('a' + i)) + "Z", 0,
                              7384u + static_cast<std::uint32_t>(i), 45678, 0x5F5E1000});
  }
  routes[39].count = 1;
  routes[39].best.push_back({"ABCDEFGHIJKLMNOP", 0, 0, 0, 0});
  const std::vector<unsigned char> table = BuildHighScoreTable(routes);
  ASSERT_EQ(table.size(), 10884u);
  const auto bytes = [&](std::size_t at, std::size_t n) {
    return std::string(table.begin() + static_cast<long>(at),
                       table.begin() + static_cast<long>(at + n));
  };
  // Little-endian words 17, 45,678 (0xB26E), 7,384 (0x1CD8), 0x5F5E1000, then the slots.
  const std::size_t b = 4 + 272;
  EXPECT_EQ(bytes(b, 32), std::string("\x11\0\0\0\x6E\xB2\0\0\xD8\x1C\0\0\x00\x10\x5E\x5F", 16) +
                              "aaaaaaaaaaaaaaaZ");
  EXPECT_EQ(bytes(b + 256, 16), "pppppppppppppppZ");
  // The leading word, the empty neighbours, the last block with one slot used.
  EXPECT_EQ(bytes(0, 20), std::string("\0\0\0\0\0\0\0\0\0\0\0\0\xFF\xFF\xFF\xFF\0\0\0\0", 20));
  EXPECT_EQ(bytes(4 + 272 * 2 + 8, 4), "\xFF\xFF\xFF\xFF");
  const std::size_t last = 4 + 272 * 39;
  EXPECT_EQ(bytes(last, 272), std::string("\x01", 1) + std::string(15, '\0') + "ABCDEFGHIJKLMNOP" +
                                  std::string(240, '\0'));
}

}  // namespace
}  // namespace qlan::server
