// The high-score table built from the standings: block layout and scrambling.
#include "server/score_table.h"

#include <gtest/gtest.h>

#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

TEST(ScoreTable, WithoutEntriesIsTheToolsEmptyTableByteForByte) {
  const std::vector<unsigned char> file = BuildHighScoreFile({});
  EXPECT_EQ(std::string(file.begin(), file.end()), test::KnownFile("highscore/empty-table.ee"));
  EXPECT_EQ(BuildHighScoreFile(std::vector<RouteStanding>(40)), file);
}

TEST(ScoreTable, BlockHoldsCountBestRunAndIdentifiersInRankOrder) {
  std::vector<RouteStanding> routes(40);
  routes[1].count = 17;
  for (int i = 0; i < 16; ++i) {
    StoredEntry e;
    e.id = std::string(15, static_cast<char>('a' + i)) + "Z";
    e.timeTicks = 7384u + static_cast<std::uint32_t>(i);
    e.distance = 45678;
    e.created = 0x5F5E1000;
    routes[1].best.push_back(e);
  }
  routes[39].count = 1;
  routes[39].best.resize(1);
  routes[39].best[0].id = "ABCDEFGHIJKLMNOP";
  const std::vector<unsigned char> table = BuildHighScoreTable(routes);
  ASSERT_EQ(table.size(), 10884u);
  const auto word = [&](std::size_t at) {
    return static_cast<std::uint32_t>(table[at] | table[at + 1] << 8 | table[at + 2] << 16) |
           std::uint32_t{table[at + 3]} << 24;
  };
  // Words are little-endian: 17, 45,678 (0xB26E), 7,384 (0x1CD8), 0x5F5E1000.
  const std::size_t b = 4 + 272;
  EXPECT_EQ(std::vector<unsigned char>(table.begin() + b, table.begin() + b + 16),
            (std::vector<unsigned char>{17, 0, 0, 0, 0x6E, 0xB2, 0, 0, 0xD8, 0x1C, 0, 0, 0x00, 0x10,
                                        0x5E, 0x5F}));
  EXPECT_EQ(std::string(table.begin() + b + 16, table.begin() + b + 32), "aaaaaaaaaaaaaaaZ");
  EXPECT_EQ(std::string(table.begin() + b + 256, table.begin() + b + 272), "pppppppppppppppZ");
  // Neighbouring blocks stay empty; unused identifier slots stay zero.
  EXPECT_EQ(word(0), 0u);
  EXPECT_EQ(word(4 + 8), 0xFFFFFFFFu);
  EXPECT_EQ(word(4 + 272 * 2 + 8), 0xFFFFFFFFu);
  const std::size_t last = 4 + 272 * 39;
  EXPECT_EQ(word(last), 1u);
  EXPECT_EQ(std::string(table.begin() + last + 16, table.begin() + last + 32), "ABCDEFGHIJKLMNOP");
  for (std::size_t i = last + 32; i < last + 272; ++i) EXPECT_EQ(table[i], 0) << i;
}

}  // namespace
}  // namespace qlan::server
