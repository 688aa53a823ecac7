// Record list and its labels.
#include "records/record_list.h"

#include <cstdio>

namespace qlan {

RecordList g_recordList{};

namespace {

char g_distanceText[256];
char g_timeText[256];

constexpr std::uint32_t kTicksPerSecond = 60;
constexpr std::uint32_t kTicksPerMinute = 60 * kTicksPerSecond;
constexpr std::uint32_t kTicksPerHour = 60 * kTicksPerMinute;
constexpr std::uint32_t kTicksPerDay = 24 * kTicksPerHour;

}  // namespace

// Every label is a few characters in a 256-byte buffer: the formatting cannot be cut.
const char* FormatDistance(std::uint32_t metres) noexcept {
  const std::uint32_t d = metres;
  char* out = g_distanceText;
  const std::size_t size = sizeof g_distanceText;
  if (d >= 100000000u) {
    (void)std::snprintf(out, size, "%5uMm", d / 1000000u);
  } else if (d >= 10000000u) {
    (void)std::snprintf(out, size, "%5ukm", d / 1000u);
  } else if (d >= 1000000u) {
    (void)std::snprintf(out, size, "%1u,%03ukm", d / 1000000u, (d / 1000u) % 1000u);
  } else if (d >= 100000u) {
    (void)std::snprintf(out, size, "%3u.%1ukm", d / 1000u, (d / 100u) % 10u);
  } else if (d >= 1000u) {
    (void)std::snprintf(out, size, "%2u,%03um", d / 1000u, d % 1000u);
  } else {
    (void)std::snprintf(out, size, "%6um", d);
  }
  return out;
}

const char* FormatTime(std::uint32_t ticks) noexcept {
  const std::uint32_t t = ticks;
  char* out = g_timeText;
  const std::size_t size = sizeof g_timeText;
  const std::uint32_t days = t / kTicksPerDay;
  const std::uint32_t hours = t / kTicksPerHour;
  const std::uint32_t minutes = t / kTicksPerMinute;
  const std::uint32_t seconds = t / kTicksPerSecond;
  const std::uint32_t hundredths = ((t % kTicksPerSecond) * 100u) / kTicksPerSecond;
  if (t >= 100u * kTicksPerDay) {
    (void)std::snprintf(out, size, "%4ud%2uh", days, hours % 24u);
  } else if (t >= 96u * kTicksPerHour) {
    (void)std::snprintf(out, size, "%2ud%2u:%02u", days, hours % 24u, minutes % 60u);
  } else if (t >= kTicksPerHour) {
    (void)std::snprintf(out, size, "%2u:%02u'%02u", hours, minutes % 60u, seconds % 60u);
  } else {
    (void)std::snprintf(out, size, "%2u'%02u.%02u", minutes, seconds % 60u, hundredths);
  }
  return out;
}

void ScanRecords() noexcept {
  g_recordList.count = 0;
  for (int i = 0; i < kRouteCount; ++i) {
    if (ReadReplaySummary(kFirstRoute + i) != 0) continue;
    g_recordList.entries[g_recordList.count++] =
        RecordEntry{i, LastReplayTime(), LastReplayDistance()};
  }
}

}  // namespace qlan
