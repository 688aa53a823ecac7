// The standings kept in memory, against the database's own ranking.
#include "server/standings.h"

#include <gtest/gtest.h>

#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

// While another connection adds entries (many at first, then a few) and withdraws and
// returns them.
TEST(Standings, AgreeWithTheDatabaseThroughAnotherConnectionsChanges) {
  test::TempFolder folder;
  EntryStore store, other;
  std::string error;
  ASSERT_TRUE(store.Open(folder.Join("ranking.db"), false, &error)) << error;
  ASSERT_TRUE(other.Open(folder.Join("ranking.db"), false, &error)) << error;
  Standings standings(store);
  std::vector<std::string> ids;
  const auto ranked = [](const std::vector<StoredEntry>& rows) {
    std::string text;
    for (const StoredEntry& e : rows) text += e.id + " " + std::to_string(e.timeTicks) + ",";
    return text;
  };
  const auto agree = [&] {
    std::vector<RouteStanding> sql, memory;
    ASSERT_EQ(store.Standings(&sql), StoreResult::kOk);
    ASSERT_EQ(standings.Best(&memory), StoreResult::kOk);
    for (std::size_t r = 0; r < sql.size(); ++r) {
      EXPECT_EQ(std::tuple(sql[r].count, ranked(sql[r].best)),
                std::tuple(memory[r].count, ranked(memory[r].best)));
    }
    for (const std::string& id : ids) {
      StoredEntry a, b;
      std::uint32_t rank[2], count[2];
      std::vector<StoredEntry> around[2];
      ASSERT_EQ(store.Find(id, &a, &rank[0], &count[0], &around[0], 3), StoreResult::kOk);
      ASSERT_EQ(standings.Find(id, &b, &rank[1], &count[1], &around[1], 3), StoreResult::kOk);
      EXPECT_EQ(std::tuple(rank[0], count[0], ranked(around[0]), a.hidden),
                std::tuple(rank[1], count[1], ranked(around[1]), b.hidden));
    }
  };
  // Entries as valid runs of these values would be stored (the replay bytes are not read).
  const auto add = [&](std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::string number = std::to_string(ids.size() + 1);
      StoredEntry e{std::string(16 - number.size(), 'E') + number, 713 - i % 2, i % 5, i % 3,
                    1700000000};
      const Sha256Digest digest{static_cast<unsigned char>(ids.size() + 1)};
      ASSERT_EQ(other.Add(&e, "replay " + number, digest), StoreResult::kOk);
      ids.push_back(e.id);
    }
  };
  add(60);
  agree();
  for (std::size_t i = 0; i < 12; i += 2) other.SetHidden(ids[i], true, "test", 1);
  agree();
  add(4);
  other.SetHidden(ids[2], false, "test", 2);
  other.SetHidden(ids[3], true, "test", 2);
  agree();
}

}  // namespace
}  // namespace qlan::server
