// The HTML pages of the server (UTF-8, Japanese, no script): the answer to an entry, the
// ranking's index, each route's ranking, the entry page and the error pages.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "server/entry_store.h"
#include "server/outcome.h"

namespace qlan::server {

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

}  // namespace qlan::server
