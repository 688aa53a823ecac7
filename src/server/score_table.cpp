// Building the high-score table from the ranking's standings.
#include "server/score_table.h"

#include <cstring>

#include "records/highscore.h"

namespace qlan::server {
namespace {

void PutWord(unsigned char* at, std::uint32_t v) noexcept {
  at[0] = static_cast<unsigned char>(v & 0xFF);
  at[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
  at[2] = static_cast<unsigned char>((v >> 16) & 0xFF);
  at[3] = static_cast<unsigned char>((v >> 24) & 0xFF);
}

std::uint32_t DateWord(std::int64_t seconds) noexcept {
  if (seconds < 0) return 0;
  return seconds > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<std::uint32_t>(seconds);
}

}  // namespace

static_assert(16 + kIdSlotSize * kBestPerRoute == kHighScoreBlockSize, "block layout");

std::vector<unsigned char> BuildHighScoreTable(const std::vector<RouteStanding>& routes) {
  std::vector<unsigned char> table(kHighScoreTableSize, 0);
  for (std::size_t k = 0; k < static_cast<std::size_t>(kRouteCount); ++k) {
    unsigned char* block = table.data() + 4 + kHighScoreBlockSize * k;
    PutWord(block + 8, 0xFFFFFFFFu);
    if (k >= routes.size()) continue;
    const RouteStanding& standing = routes[k];
    PutWord(block + 0, standing.count);
    if (standing.best.empty()) continue;
    const StoredEntry& best = standing.best.front();
    PutWord(block + 4, best.distance);
    PutWord(block + 8, best.timeTicks);
    PutWord(block + 12, DateWord(best.created));
    for (std::size_t i = 0; i < standing.best.size() && i < kBestPerRoute; ++i) {
      const std::string& id = standing.best[i].id;
      std::memcpy(block + 16 + kIdSlotSize * i, id.data(),
                  id.size() < kIdSlotSize ? id.size() : kIdSlotSize);
    }
  }
  return table;
}

std::vector<unsigned char> BuildHighScoreFile(const std::vector<RouteStanding>& routes) {
  const std::vector<unsigned char> table = BuildHighScoreTable(routes);
  return ScrambleHighScoreTable(table.data());
}

}  // namespace qlan::server
