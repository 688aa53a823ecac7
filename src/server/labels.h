// The tool's labels for distances and times, and dates in Japan time, as the pages and the
// operator's listings show them.
#pragma once
#include <cstdint>
#include <string>

namespace qlan::server {

// The tool's labels, trimmed of their alignment blanks. The tool's formatters share one
// buffer each, so calls are serialised here.
std::string DistanceLabel(std::uint32_t metres);
std::string TimeLabel(std::uint32_t ticks);

// "YYYY-MM-DD HH:MM (JST)" for seconds since 1970 UTC.
std::string JapanDateText(std::int64_t seconds);

}  // namespace qlan::server
