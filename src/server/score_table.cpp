// Building the high-score table from the ranking's standings.
#include "server/score_table.h"

#include <cstring>

#include "records/highscore.h"
#include "records/replay.h"

namespace qlan::server {
namespace {

std::uint32_t DateWord(std::int64_t seconds) noexcept {
  if (seconds < 0) return 0;
  return seconds > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<std::uint32_t>(seconds);
}

}  // namespace

static_assert(kHighScoreSlotsOffset + kHighScoreSlotSize * kBestPerRoute == kHighScoreBlockSize &&
                  kHighScoreHeaderSize + kHighScoreBlockSize * kRouteCount == kHighScoreTableSize,
              "table layout");

std::vector<unsigned char> BuildHighScoreTable(const std::vector<RouteStanding>& routes) {
  std::vector<unsigned char> table(kHighScoreTableSize, 0);
  for (std::size_t k = 0; k < static_cast<std::size_t>(kRouteCount); ++k) {
    unsigned char* block = table.data() + kHighScoreHeaderSize + kHighScoreBlockSize * k;
    PutLittleEndian(block + kHighScoreTimeOffset, kHighScoreNoTime);
    if (k >= routes.size()) continue;
    const RouteStanding& standing = routes[k];
    PutLittleEndian(block + 0, standing.count);
    if (standing.best.empty()) continue;
    const StoredEntry& best = standing.best.front();
    PutLittleEndian(block + 4, best.distance);
    PutLittleEndian(block + kHighScoreTimeOffset, best.timeTicks);
    PutLittleEndian(block + 12, DateWord(best.created));
    for (std::size_t i = 0; i < standing.best.size() && i < kBestPerRoute; ++i) {
      const std::string& id = standing.best[i].id;
      std::memcpy(block + kHighScoreSlotsOffset + kHighScoreSlotSize * i, id.data(),
                  id.size() < kHighScoreSlotSize ? id.size() : kHighScoreSlotSize);
    }
  }
  return table;
}

std::vector<unsigned char> BuildHighScoreFile(const std::vector<RouteStanding>& routes) {
  const std::vector<unsigned char> table = BuildHighScoreTable(routes);
  return ScrambleHighScoreTable(table.data());
}

}  // namespace qlan::server
