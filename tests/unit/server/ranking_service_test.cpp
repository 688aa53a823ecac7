// Entries through the service: validation, storage, ranks, pages, and what survives a
// restart; no network here.
#include "server/ranking_service.h"

#include <gtest/gtest.h>

#include "server/entry_id.h"
#include "server/pages.h"
#include "support/temp_env.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

constexpr char kToolType[] = "multipart/form-data; boundary=------AaXx00";

std::string Replay(const char* name) { return test::ReadFileBytes(test::TestDataPath(name)); }

std::string FormFor(const std::string& replay) { return test::ToolFormBody(test::Base64Lines(replay)); }

std::string IdFromReply(const std::string& body) {
  const std::size_t at = body.find("\n**ID:");
  if (at == std::string::npos) return "";
  const std::size_t end = body.find('\n', at + 1);
  return body.substr(at + 6, end - at - 6);
}

class RankingServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(store_.Open(dbPath_, false, &error)) << error;
  }
  std::size_t StoredCount() {
    std::vector<RouteStanding> routes;
    EXPECT_EQ(store_.Standings(&routes), StoreResult::kOk);
    std::size_t n = 0;
    for (const RouteStanding& r : routes) n += r.count;
    return n;
  }

  test::TempFolder folder_;
  std::string dbPath_ = folder_.Join("ranking.db");
  EntryStore store_;
  RankingService service_{store_};
};

TEST_F(RankingServiceTest, AcceptsTheToolsFormAndAnswersWithTheIdLine) {
  const Reply reply = service_.PostEntry(kToolType, FormFor(Replay("replays/good/r710.replay")), 1700000000);
  ASSERT_EQ(reply.status, 200) << reply.body;
  EXPECT_EQ(reply.contentType, "text/html; charset=utf-8");
  const std::string id = IdFromReply(reply.body);
  EXPECT_TRUE(IsEntryIdShape(id)) << reply.body;

  StoredEntry entry;
  std::uint32_t rank = 0;
  std::uint32_t count = 0;
  ASSERT_EQ(store_.Find(id, &entry, &rank, &count), StoreResult::kOk);
  EXPECT_EQ(entry.route, 710u);
  EXPECT_EQ(entry.distance, 45678u);
  EXPECT_EQ(entry.timeTicks, 7384u);
  EXPECT_EQ(entry.created, 1700000000);
  EXPECT_EQ(rank, 1u);
  EXPECT_EQ(count, 1u);
  std::string stored;
  ASSERT_EQ(store_.Replay(id, &stored), StoreResult::kOk);
  EXPECT_EQ(stored, Replay("replays/good/r710.replay"));
}

TEST_F(RankingServiceTest, EntryPageShowsRouteLabelsDateAndRank) {
  const std::string id = IdFromReply(service_.PostEntry(kToolType, FormFor(Replay("replays/good/r745.replay")),
                                                        1700000000).body);
  const Reply page = service_.EntryPage(id);
  ASSERT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("<meta charset=\"utf-8\">"), std::string::npos);
  EXPECT_NE(page.body.find("<td>R 745</td>"), std::string::npos);
  EXPECT_NE(page.body.find("<td>3,456km</td>"), std::string::npos);
  EXPECT_NE(page.body.find("<td>1:23&#39;20</td>"), std::string::npos);
  // 1700000000 is 2023-11-14 22:13:20 UTC, 2023-11-15 07:13 in Japan.
  EXPECT_NE(page.body.find("<td>2023-11-15 07:13 (JST)</td>"), std::string::npos);
  EXPECT_NE(page.body.find("<td>1位 / 1件中</td>"), std::string::npos);
}

TEST_F(RankingServiceTest, RanksByTimeThenDistanceThenEntryOrder) {
  const std::string replay = Replay("replays/good/r712.replay");
  StoredEntry first;
  StoredEntry second;
  ASSERT_EQ(service_.AddReplay(replay, 1, &first), 0);
  ASSERT_EQ(service_.AddReplay(replay, 2, &second), 0);
  std::uint32_t rank = 0;
  std::uint32_t count = 0;
  StoredEntry e;
  ASSERT_EQ(store_.Find(first.id, &e, &rank, &count), StoreResult::kOk);
  EXPECT_EQ(rank, 1u);
  EXPECT_EQ(count, 2u);
  ASSERT_EQ(store_.Find(second.id, &e, &rank, &count), StoreResult::kOk);
  EXPECT_EQ(rank, 2u);
  // A faster run on another route does not change this route's ranks.
  StoredEntry other;
  ASSERT_EQ(service_.AddReplay(Replay("replays/good/r710.replay"), 3, &other), 0);
  ASSERT_EQ(store_.Find(second.id, &e, &rank, &count), StoreResult::kOk);
  EXPECT_EQ(rank, 2u);
  EXPECT_EQ(count, 2u);
  EXPECT_NE(first.id, second.id);
}

TEST_F(RankingServiceTest, RefusesBadInputAndStoresNothing) {
  struct Case {
    std::string contentType;
    std::string body;
    int status;
  };
  const std::string good = test::Base64Lines(Replay("replays/good/r710.replay"));
  const std::vector<Case> cases = {
      {"text/plain", FormFor(Replay("replays/good/r710.replay")), 400},
      {kToolType, "--------AaXx00\nContent-Disposition: form-data; name=\"frep\"\n\nQUJD\n", 400},
      {kToolType, test::ToolFormBody("QUJD!!!!"), 400},
      {kToolType, test::ToolFormBody("QUJ"), 400},
      {kToolType, "--------AaXx00\nContent-Disposition: form-data; name=\"other\"\n\n" + good + "\n--------AaXx00--",
       400},
      {kToolType,
       "--------AaXx00\nContent-Disposition: form-data; name=\"frep\"\n\n" + good +
           "\n--------AaXx00\nContent-Disposition: form-data; name=\"frep\"\n\n" + good + "\n--------AaXx00--",
       400},
      {kToolType, test::ToolFormBody(""), 422},
      {kToolType, FormFor(Replay("replays/bad/bad-checksum-r710.replay")), 422},
      {kToolType, FormFor(Replay("replays/bad/lowercase-magic-r710.replay")), 422},
      {kToolType, FormFor(Replay("replays/bad/short-header-r710.replay")), 422},
      {kToolType, FormFor(Replay("replays/bad/short-payload-r710.replay")), 422},
      {kToolType, FormFor(Replay("replays/bad/huge-length-r710.replay")), 422},
      {kToolType, std::string(kMaxEntryBody + 1, 'x'), 413},
  };
  for (const Case& c : cases) {
    const Reply reply = service_.PostEntry(c.contentType, c.body, 5);
    EXPECT_EQ(reply.status, c.status) << c.body.substr(0, 200);
    EXPECT_EQ(reply.body.find("**ID:"), std::string::npos);
  }
  EXPECT_EQ(StoredCount(), 0u);
}

TEST_F(RankingServiceTest, RefusesARouteOutsideTheRanking) {
  // A valid-looking replay of route 750: header with an empty payload whose checksum is
  // the route (bytes written out here, not by the tool's code).
  std::string replay(64, '\0');
  replay.replace(0, 4, "QLNR");
  replay[14] = '\x02';
  replay[15] = '\xEE';  // route 750 = 0x2EE
  replay[58] = '\x02';
  replay[59] = '\xEE';  // checksum
  StoredEntry entry;
  EXPECT_EQ(service_.AddReplay(replay, 1, &entry), 422);
  replay[15] = '\xEC';  // route 748
  replay[59] = '\xEC';
  EXPECT_EQ(service_.AddReplay(replay, 1, &entry), 0);
  EXPECT_EQ(entry.route, 748u);
}

TEST_F(RankingServiceTest, UnknownOrMalformedIdentifiersAreNotFound) {
  EXPECT_EQ(service_.EntryPage("AAAAAAAAAAAAAAAA").status, 404);
  EXPECT_EQ(service_.EntryPage("").status, 404);
  EXPECT_EQ(service_.EntryPage("' OR 1=1 --xxxxx").status, 404);
  EXPECT_EQ(service_.EntryPage(std::string(17, 'A')).status, 404);
}

TEST_F(RankingServiceTest, ScoreTableFollowsNewEntries) {
  const Reply empty = service_.ScoreTable();
  ASSERT_EQ(empty.status, 200);
  EXPECT_EQ(empty.body, test::ReadFileBytes(test::TestDataPath("highscore/empty-table.ee")));
  StoredEntry entry;
  ASSERT_EQ(service_.AddReplay(Replay("replays/good/r745.replay"), 1, &entry), 0);
  const std::vector<unsigned char> table = test::UnscrambleHighScoreFile(service_.ScoreTable().body);
  ASSERT_EQ(table.size(), 10884u);
  const std::size_t b = 4 + 272 * 35;
  EXPECT_EQ(test::WordAt(table, b), 1u);
  EXPECT_EQ(test::WordAt(table, b + 4), 3456789u);
  EXPECT_EQ(test::WordAt(table, b + 8), 300000u);
  EXPECT_EQ(std::string(table.begin() + b + 16, table.begin() + b + 32), entry.id);
}

TEST_F(RankingServiceTest, ReopenedDatabaseKeepsEntries) {
  StoredEntry entry;
  ASSERT_EQ(service_.AddReplay(Replay("replays/good/r710.replay"), 42, &entry), 0);
  store_.Close();
  EntryStore reopened;
  std::string error;
  ASSERT_TRUE(reopened.Open(dbPath_, true, &error)) << error;
  StoredEntry found;
  std::uint32_t rank = 0;
  std::uint32_t count = 0;
  ASSERT_EQ(reopened.Find(entry.id, &found, &rank, &count), StoreResult::kOk);
  EXPECT_EQ(found.route, 710u);
  EXPECT_EQ(found.created, 42);
}

TEST(EntryIds, AreSixteenUrlSafeCharactersAndDiffer) {
  std::string a;
  std::string b;
  ASSERT_TRUE(NewEntryId(&a));
  ASSERT_TRUE(NewEntryId(&b));
  EXPECT_TRUE(IsEntryIdShape(a)) << a;
  EXPECT_TRUE(IsEntryIdShape(b)) << b;
  EXPECT_NE(a, b);
  EXPECT_FALSE(IsEntryIdShape("abc+/abcabcabcab"));
  EXPECT_FALSE(IsEntryIdShape("abcabcabcabcabc"));
}

TEST(Pages, EscapeMarkupInText) {
  EXPECT_EQ(EscapeHtml("<a href=\"x\">'&'</a>"), "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
  const std::string page = RenderErrorPage(400, "<script>");
  EXPECT_EQ(page.find("<script>"), std::string::npos);
}

}  // namespace
}  // namespace qlan::server
