// The HTML pages of the server (UTF-8, Japanese): the answer to an entry, the entry page
// and the error pages.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "server/entry_store.h"
#include "server/outcome.h"

namespace qlan::server {

// The tool takes the identifier from the line that begins with "**ID:".
std::string RenderEntryAccepted(const StoredEntry& entry);

// Route, distance and time with the tool's labels, date (Japan time) and rank.
std::string RenderEntryPage(const StoredEntry& entry, std::uint32_t rank, std::uint32_t routeCount);

// A short page for a refused request, with the outcome's status and text.
std::string RenderErrorPage(Outcome outcome);

// Text made safe for HTML element content and attribute values.
std::string EscapeHtml(std::string_view text);

// The tool's labels, trimmed of their alignment blanks. The tool's formatters share one
// buffer each, so calls are serialised here.
std::string DistanceLabel(std::uint32_t metres);
std::string TimeLabel(std::uint32_t ticks);

// "YYYY-MM-DD HH:MM (JST)" for seconds since 1970 UTC.
std::string JapanDateText(std::int64_t seconds);

}  // namespace qlan::server
