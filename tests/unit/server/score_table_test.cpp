// The game's high-score table built from standings, byte for byte.
#include "server/score_table.h"

#include <gtest/gtest.h>

#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

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
