// The labels, through the tool's own formatters.
#include "server/labels.h"

#include <ctime>
#include <mutex>

#include "app/text.h"
#include "records/record_list.h"

namespace qlan::server {
namespace {

std::mutex g_labelMutex;

}  // namespace

std::string DistanceLabel(std::uint32_t metres) {
  std::lock_guard<std::mutex> lock(g_labelMutex);
  return std::string(TrimBlanks(FormatDistance(metres)));
}

std::string TimeLabel(std::uint32_t ticks) {
  std::lock_guard<std::mutex> lock(g_labelMutex);
  return std::string(TrimBlanks(FormatTime(ticks)));
}

std::string JapanDateText(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds + std::int64_t{9} * 3600);
  std::tm parts{};
  if (gmtime_r(&t, &parts) == nullptr) return "-";
  char text[64];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M (JST)", &parts);
  return n == 0 ? std::string("-") : std::string(text, n);
}

}  // namespace qlan::server
