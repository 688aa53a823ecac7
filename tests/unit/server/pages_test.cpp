// The ranking's pages through the service: order, paging at the edges, withdrawn entries in
// the table, the pages and the replay download; no network here.
#include "server/pages.h"

#include <gtest/gtest.h>

#include "server/labels.h"
#include "server/score_table.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

class RankingPages : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(store_.Open(folder_.Join("ranking.db"), false, &error)) << error;
  }
  // An entry stored as a valid run of these values would be (the replay bytes are not read).
  StoredEntry Put(std::uint32_t route, std::uint32_t time, std::uint32_t distance,
                  std::string_view id = {}) {
    const std::string n = std::to_string(++count_);
    StoredEntry e{id.empty() ? std::string(16 - n.size(), 'E') + n : std::string(id), route, time,
                  distance, 1700000000};
    const Sha256Digest digest{static_cast<unsigned char>(count_),
                              static_cast<unsigned char>(count_ >> 8)};
    EXPECT_EQ(store_.Add(&e, "replay " + n, digest), StoreResult::kOk);
    return e;
  }
  Reply Get(const std::string& path, std::string_view query = "") {
    return service_.Read(path, "", query);
  }

  test::TempFolder folder_;
  EntryStore store_;
  RankingService service_{store_};
  unsigned count_ = 0;
};

TEST_F(RankingPages, RankShorterTimeThenLongerDistanceThenEarlierEntryFiftyToAPage) {
  const StoredEntry slow = Put(713, 500, 10), far = Put(713, 400, 20), near = Put(713, 400, 10),
                    later = Put(713, 400, 20), fast = Put(713, 300, 1);
  std::string fiftieth;  // of R 712
  for (std::uint32_t i = 0; i < 101; ++i) {
    if (const StoredEntry e = Put(712, 1000 + i, 5); i == 49) fiftieth = e.id;
  }
  const std::string page = Get("/sw/qlan/ranking/713/").body;
  std::vector<std::size_t> at;
  for (const StoredEntry* e : {&fast, &far, &later, &near, &slow}) at.push_back(page.find(e->id));
  EXPECT_TRUE(std::is_sorted(at.begin(), at.end()) && at.back() != std::string::npos) << page;
  EXPECT_NE(service_.EntryPage(near.id).body.find(
                "<tr class=\"self\" aria-current=\"true\"><td class=\"num\">4</td>"),
            std::string::npos);

  const std::string rank = "<td class=\"num\">";
  // The entry page: five entries above it and five below.
  const std::string around = service_.EntryPage(fiftieth).body;
  for (const char* n : {"45", "55"}) EXPECT_NE(around.find(rank + n + "</td>"), std::string::npos);
  for (const char* n : {"44", "56"}) EXPECT_EQ(around.find(rank + n + "</td>"), std::string::npos);
  // path, page, status, a text that must be there, one that must not.
  const std::tuple<std::string, std::string, int, std::string, std::string> cases[] = {
      {"/sw/qlan/", "page=x", 200,
       "R 713</a></th><td class=\"num\">5</td>" + rank + DistanceLabel(1), "R 750"},
      {"/sw/qlan/", "", 200, "R 711</a></th><td class=\"num\">0</td><td colspan=\"3\">", "R 709"},
      {"/sw/qlan/ranking/712/", "", 200, "/712/?page=2\">次のページ", "前のページ"},
      {"/sw/qlan/ranking/712/", "page=2", 200, rank + "51</td>", rank + "50</td>"},
      {"/sw/qlan/ranking/712/", "page=2", 200, "/712/\">前のページ", rank + "101</td>"},
      {"/sw/qlan/ranking/712/", "page=3", 200, rank + "101</td>", "次のページ"},
      {"/sw/qlan/ranking/712/", "page=2", 200, "101 件中 51〜100 位（ページ 2 / 3）", "〜101"},
      {"/sw/qlan/ranking/711/", "", 200, "まだエントリーがありません", "<table>"},
      {"/sw/qlan/ranking/710/", "", 200, "次のルート（R 711）", "前のルート"},
      {"/sw/qlan/ranking/749/", "", 200, "前のルート（R 748）", "次のルート"},
  };
  for (const auto& [path, number, status, there, absent] : cases) {
    const Reply r = Get(path, number);
    EXPECT_EQ(HttpStatus(r.outcome), status) << path << number;
    EXPECT_NE(r.body.find(there), std::string::npos) << path << number << " " << there;
    EXPECT_EQ(r.body.find(absent), std::string::npos) << path << number << " " << absent;
  }
  // Other routes and paths; a page past the end, also of an empty route; R 712's pages named
  // in any but the plain form, which the front would file under another page's key.
  for (const std::string& target : test::Cases(
           "/sw/qlan/ranking/709/|/sw/qlan/ranking/750/|/sw/qlan/ranking/7100/|/sw/qlan/ranking/"
           "710|"
           "/sw/qlan/replay/|/sw/qlan/index.html|/sw/qlan/ranking/711/?page=2|?page=4|?page=0|"
           "?page=02|?page=-1|?page=x|?page=1000000|?%70age=2|?pag%65=2|?page=2&x=1|?page=|?x")) {
    const std::size_t mark = std::min(target.find('?'), target.size());
    const std::string path = mark == 0 ? "/sw/qlan/ranking/712/" : target.substr(0, mark);
    const std::string query = target.substr(std::min(mark + 1, target.size()));
    EXPECT_EQ(HttpStatus(Get(path, query).outcome), 404) << target;
  }
}

TEST_F(RankingPages, AWithdrawnEntryLeavesTheTablePagesAndDownloadUntilItReturns) {
  const StoredEntry first = Put(745, 100, 1);
  const StoredEntry second = Put(745, 200, 1);
  const std::string table = service_.ScoreTable().body;
  ASSERT_EQ(store_.SetHidden(first.id, true, "cheat", 5), StoreResult::kOk);
  EXPECT_EQ(store_.SetHidden("nobody", true, "x", 6), StoreResult::kNotFound);
  // The game's table is that of the other entry alone.
  std::vector<RouteStanding> alone(40);
  alone[35] = {1, {second}};
  const std::vector<unsigned char> expected = BuildHighScoreFile(alone);
  EXPECT_EQ(service_.ScoreTable().body, std::string(expected.begin(), expected.end()));
  EXPECT_EQ(HttpStatus(service_.EntryPage(first.id).outcome), 410);
  EXPECT_EQ(HttpStatus(Get("/sw/qlan/replay/" + first.id).outcome), 410);
  EXPECT_EQ(Get("/sw/qlan/ranking/745/").body.find(first.id), std::string::npos);
  EXPECT_NE(service_.EntryPage(second.id).body.find("<td>1位 / 1件中</td>"), std::string::npos);

  ASSERT_EQ(store_.SetHidden(first.id, false, "", 7), StoreResult::kOk);
  EXPECT_EQ(service_.ScoreTable().body, table);
  const Reply replay = Get("/sw/qlan/replay/" + first.id);
  std::string bytes(replay.readSize, '?');
  EXPECT_TRUE(replay.read && replay.read(2, bytes.data() + 2, bytes.size() - 2));
  EXPECT_EQ(std::tie(bytes, replay.fileName, replay.contentType),
            std::tie("??play 1", "r745.replay", "application/octet-stream"));
}

}  // namespace
}  // namespace qlan::server
