// The records the dialog lists, one per route with a valid replay, and the short
// fixed-width labels for a run's distance and time.
#pragma once
#include <cstdint>

#include "records/replay.h"

namespace qlan {

struct RecordEntry {
  int routeIndex;  // 0..39; the route number is kFirstRoute + routeIndex
  std::uint32_t time;
  std::uint32_t distance;
};

// Entry k belongs to list line k.
struct RecordList {
  int count;
  RecordEntry entries[kRouteCount];
};

extern RecordList g_recordList;

// Rescans the 40 routes into g_recordList, in route order.
void ScanRecords() noexcept;

// Seven characters for every distance in metres; the text stays valid until the next call.
const char* FormatDistance(std::uint32_t metres) noexcept;
// Eight characters for every time in ticks of 1/60 second; its own buffer, so a distance
// label and a time label can be used together.
const char* FormatTime(std::uint32_t ticks) noexcept;

}  // namespace qlan
