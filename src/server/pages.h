// The HTML pages of the server (UTF-8, Japanese, no script): the answer to an entry, the
// ranking's index, each route's ranking, the entry page and the error pages.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server/entry_store.h"
#include "server/outcome.h"

namespace qlan::server {

inline constexpr std::uint32_t kRowsPerPage = 50;
// The entry page shows this many entries above and below the entry.
inline constexpr std::uint32_t kNeighbours = 5;

// How many pages a route of count entries has (one even when it is empty).
std::uint32_t PageCount(std::uint32_t count) noexcept;
// The download name of a route's replay, "r710.replay".
std::string ReplayFileName(std::uint32_t route);

// Every route with its number of entries and its best entry; routes[0] is route 710.
std::string RenderIndex(const std::vector<RouteStanding>& routes);

// Page `page` of a route of routeCount entries: rows are ranked (page - 1) * kRowsPerPage + 1 on.
std::string RenderRoutePage(std::uint32_t route, std::uint32_t page, std::uint32_t routeCount,
                            const std::vector<StoredEntry>& rows);

// The tool takes the identifier from the line that begins with "**ID:".
std::string RenderEntryAccepted(const StoredEntry& entry);

// Route, distance and time with the tool's labels, date (Japan time) and rank; then the
// entries around it as EntryStore::Find gives them with radius kNeighbours.
std::string RenderEntryPage(const StoredEntry& entry, std::uint32_t rank, std::uint32_t routeCount,
                            const std::vector<StoredEntry>& around);

// A short page for a refused request, with the outcome's status and text.
std::string RenderErrorPage(Outcome outcome);
// The 429 page of an address that has sent perDay entries within a day: when it may again.
std::string RenderLimitPage(std::uint32_t perDay, std::int64_t opens);

// Text made safe for HTML element content and attribute values.
std::string EscapeHtml(std::string_view text);

// The tool's labels, trimmed of their alignment blanks. The tool's formatters share one
// buffer each, so calls are serialised here.
std::string DistanceLabel(std::uint32_t metres);
std::string TimeLabel(std::uint32_t ticks);

// "YYYY-MM-DD HH:MM (JST)" for seconds since 1970 UTC.
std::string JapanDateText(std::int64_t seconds);

}  // namespace qlan::server
