// Entries through the service: validation, storage, ranks and pages; no network here.
#include "server/ranking_service.h"

#include <gtest/gtest.h>

#include "server/entry_id.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

constexpr char kToolType[] = "multipart/form-data; boundary=------AaXx00";

std::string FormFor(const char* known) { return test::ToolForm(test::KnownFile(known)); }

class RankingServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(store_.Open(folder_.Join("ranking.db"), false, &error)) << error;
  }
  std::tuple<StoredEntry, std::uint32_t, std::uint32_t> Find(const std::string& id) {
    StoredEntry entry;
    std::uint32_t rank = 0;
    std::uint32_t count = 0;
    EXPECT_EQ(store_.Find(id, &entry, &rank, &count), StoreResult::kOk) << id;
    return {entry, rank, count};
  }

  test::TempFolder folder_;
  EntryStore store_;
  RankingService service_{store_};
};

TEST_F(RankingServiceTest, StoresTheToolsFormAndShowsItsPage) {
  const Reply reply =
      service_.PostEntry(kToolType, FormFor("replays/good/r745.replay"), 1700000000);
  ASSERT_EQ(reply.outcome, Outcome::kOk) << reply.body;
  const std::string id = test::EntryIdIn(reply.body);
  ASSERT_TRUE(IsEntryIdShape(id)) << reply.body;
  const auto [entry, rank, count] = Find(id);
  EXPECT_EQ(std::tuple(entry.route, entry.distance, entry.timeTicks, entry.created),
            std::tuple(745u, 3456789u, 300000u, std::int64_t{1700000000}));
  // Stored byte for byte: the same bytes again are the same entry, any other are not.
  StoredEntry again;
  EXPECT_EQ(service_.AddReplay(test::KnownFile("replays/good/r745.replay"), 5, &again),
            Outcome::kOk);
  EXPECT_EQ(again.id, id);

  const Reply page = service_.EntryPage(id);
  ASSERT_EQ(page.outcome, Outcome::kOk);
  // 1700000000 is 2023-11-14 22:13:20 UTC, 2023-11-15 07:13 in Japan.
  for (const char* text :
       {"<meta charset=\"utf-8\">", "<td>R 745</td>", "<td>3,456km</td>", "<td>1:23&#39;20</td>",
        "<td>2023-11-15 07:13 (JST)</td>", "<td>1位 / 1件中</td>"}) {
    EXPECT_NE(page.body.find(text), std::string::npos) << text;
  }
  for (const std::string& bad : {std::string(), std::string("' OR 1=1 --xxxxx"),
                                 std::string(16, 'A'), std::string(17, 'A')}) {
    EXPECT_EQ(HttpStatus(service_.EntryPage(bad).outcome), 404) << bad;
  }
  EXPECT_NE(service_.EntryPage("").body.find("<title>エラー 404</title>"), std::string::npos);
}

TEST_F(RankingServiceTest, RanksByTimeWithinTheRouteAndTakesTheSameBytesAsTheSameEntry) {
  const std::string replay = test::KnownFile("replays/good/r712.replay");
  std::string slower = replay;
  slower[7] = '\x01';  // time word 1 instead of 0
  StoredEntry first;
  StoredEntry second;
  StoredEntry other;
  StoredEntry again;
  ASSERT_EQ(service_.AddReplay(slower, 1, &second), Outcome::kOk);
  ASSERT_EQ(service_.AddReplay(replay, 2, &first), Outcome::kOk);
  // A faster run on another route does not change this route's ranks.
  ASSERT_EQ(service_.AddReplay(test::KnownFile("replays/good/r710.replay"), 3, &other),
            Outcome::kOk);
  EXPECT_TRUE(IsEntryIdShape(first.id) && first.id != second.id) << first.id << " " << second.id;
  EXPECT_EQ(std::get<1>(Find(first.id)), 1u);
  EXPECT_EQ(std::get<1>(Find(second.id)), 2u);
  EXPECT_EQ(std::get<2>(Find(second.id)), 2u);
  // The same bytes again: the stored entry, its date unchanged, no new row.
  ASSERT_EQ(service_.AddReplay(replay, 9, &again), Outcome::kOk);
  EXPECT_EQ(std::tuple(again.id, again.created), std::tuple(first.id, std::int64_t{2}));
  EXPECT_EQ(test::StoredCount(store_), 3u);
}

TEST_F(RankingServiceTest, RefusesBadInputAndStoresNothing) {
  const std::string good = test::Base64Lines(test::KnownFile("replays/good/r710.replay"));
  const std::string part = "--------AaXx00\nContent-Disposition: form-data; name=";
  const std::string end = "\n--------AaXx00--";
  const struct {
    std::string type;
    std::string body;
    Outcome outcome;
  } cases[] = {
      {"text/plain", FormFor("replays/good/r710.replay"), Outcome::kBadForm},
      {kToolType, part + "\"frep\"\n\nQUJD\n", Outcome::kBadForm},
      {kToolType, part + "\"frep\"\n\nQUJD!!!!" + end, Outcome::kBadBase64},
      {kToolType, part + "\"frep\"\n\nQUJ" + end, Outcome::kBadBase64},
      {kToolType, part + "\"other\"\n\n" + good + end, Outcome::kNoReplay},
      {kToolType, part + "\"frep\"\n\n" + good + "\n" + part + "\"frep\"\n\n" + good + end,
       Outcome::kRepeatedReplay},
      {kToolType, part + "\"\"\n\nx\n" + part + "\"frep\"\n\n" + good + end, Outcome::kBadForm},
      {kToolType, part + "\"frep\"\n\n" + end, Outcome::kInvalidReplay},
      {kToolType, FormFor("replays/bad/bad-checksum-r710.replay"), Outcome::kInvalidReplay},
      {kToolType, FormFor("replays/bad/huge-length-r710.replay"), Outcome::kInvalidReplay},
      {kToolType, std::string(kMaxEntryBody + 1, 'x'), Outcome::kBodyTooLarge},
  };
  for (const auto& c : cases) {
    const Reply reply = service_.PostEntry(c.type, c.body, 5);
    EXPECT_EQ(reply.outcome, c.outcome) << c.body.substr(0, 200);
    EXPECT_EQ(reply.body.find("**ID:"), std::string::npos);
  }
  EXPECT_EQ(test::StoredCount(store_), 0u);
}

}  // namespace
}  // namespace qlan::server
