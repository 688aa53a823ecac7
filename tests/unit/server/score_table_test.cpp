// The high-score table built from the standings: block layout and scrambling.
#include "server/score_table.h"

#include <gtest/gtest.h>

#include "support/temp_env.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

using test::WordAt;

TEST(ScoreTable, WithoutEntriesIsTheToolsEmptyTableByteForByte) {
  const std::vector<unsigned char> file = BuildHighScoreFile({});
  const std::string expected = test::ReadFileBytes(test::TestDataPath("highscore/empty-table.ee"));
  ASSERT_EQ(expected.size(), 10888u);
  EXPECT_EQ(std::string(file.begin(), file.end()), expected);
  // Forty empty standings give the same bytes as no standings.
  const std::vector<unsigned char> forty = BuildHighScoreFile(std::vector<RouteStanding>(40));
  EXPECT_EQ(forty, file);
}

TEST(ScoreTable, TestUnscramblerReadsTheKnownEmptyTable) {
  // Checks the tests' own unscrambler against the known-answer file.
  const std::vector<unsigned char> table =
      test::UnscrambleHighScoreFile(test::ReadFileBytes(test::TestDataPath("highscore/empty-table.ee")));
  ASSERT_EQ(table.size(), 10884u);
  EXPECT_EQ(WordAt(table, 0), 0u);
  for (std::size_t k = 0; k < 40; ++k) {
    const std::size_t b = 4 + 272 * k;
    EXPECT_EQ(WordAt(table, b), 0u);
    EXPECT_EQ(WordAt(table, b + 4), 0u);
    EXPECT_EQ(WordAt(table, b + 8), 0xFFFFFFFFu);
    EXPECT_EQ(WordAt(table, b + 12), 0u);
  }
}

TEST(ScoreTable, BlockHoldsCountBestRunAndIdentifiersInRankOrder) {
  std::vector<RouteStanding> routes(40);
  RouteStanding& r711 = routes[1];
  r711.count = 17;
  for (int i = 0; i < 16; ++i) {
    StoredEntry e;
    e.id = std::string(15, static_cast<char>('a' + i)) + "Z";
    e.route = 711;
    e.timeTicks = 7384u + static_cast<std::uint32_t>(i);
    e.distance = 45678;
    e.created = 0x5F5E1000;
    r711.best.push_back(e);
  }
  const std::vector<unsigned char> table = BuildHighScoreTable(routes);
  ASSERT_EQ(table.size(), 10884u);
  const std::size_t b = 4 + 272;
  // Words are little-endian: 17, 45,678 (0xB26E), 7,384 (0x1CD8), 0x5F5E1000.
  const unsigned char head[16] = {17, 0, 0, 0, 0x6E, 0xB2, 0, 0, 0xD8, 0x1C, 0, 0, 0x00, 0x10, 0x5E, 0x5F};
  EXPECT_EQ(std::vector<unsigned char>(table.begin() + b, table.begin() + b + 16),
            std::vector<unsigned char>(head, head + 16));
  EXPECT_EQ(std::string(table.begin() + b + 16, table.begin() + b + 32), "aaaaaaaaaaaaaaaZ");
  EXPECT_EQ(std::string(table.begin() + b + 256, table.begin() + b + 272), "pppppppppppppppZ");
  // Neighbouring blocks stay empty.
  EXPECT_EQ(WordAt(table, 4 + 8), 0xFFFFFFFFu);
  EXPECT_EQ(WordAt(table, 4 + 272 * 2 + 8), 0xFFFFFFFFu);
  EXPECT_EQ(WordAt(table, 0), 0u);
}

TEST(ScoreTable, UnusedIdentifierSlotsStayZero) {
  std::vector<RouteStanding> routes(40);
  routes[39].count = 1;
  StoredEntry e;
  e.id = "ABCDEFGHIJKLMNOP";
  e.route = 749;
  e.timeTicks = 60;
  e.distance = 1000;
  routes[39].best.push_back(e);
  const std::vector<unsigned char> file = BuildHighScoreFile(routes);
  const std::vector<unsigned char> table = test::UnscrambleHighScoreFile(std::string(file.begin(), file.end()));
  ASSERT_EQ(table.size(), 10884u);
  const std::size_t b = 4 + 272 * 39;
  EXPECT_EQ(WordAt(table, b), 1u);
  EXPECT_EQ(WordAt(table, b + 4), 1000u);
  EXPECT_EQ(WordAt(table, b + 8), 60u);
  EXPECT_EQ(std::string(table.begin() + b + 16, table.begin() + b + 32), "ABCDEFGHIJKLMNOP");
  for (std::size_t i = b + 32; i < b + 272; ++i) EXPECT_EQ(table[i], 0) << i;
}

}  // namespace
}  // namespace qlan::server
