// The high-score table the server hands out at "/sw/qlan/score.dat": the layout and the
// scrambling the tool uses for qlanb.ee, filled from the stored entries.
//
// Table (10,884 bytes, little-endian words): a leading word (0), then one 272-byte block
// per route, 710 first. A block holds
//   +0   number of entries on the route
//   +4   distance of the best entry, metres
//   +8   time of the best entry, ticks of 1/60 s (0xFFFFFFFF: the route has no entry)
//   +12  date of the best entry, seconds since 1970-01-01 UTC
//   +16  16 slots of 16 bytes: the identifiers of the best 16 entries in rank order
//        (ASCII, no terminator; unused slots are zero)
// A route without entries therefore has the words 0, 0, 0xFFFFFFFF, 0 and zero slots,
// exactly the block of the empty table the tool writes when it erases all records.
#pragma once
#include <vector>

#include "server/entry_store.h"

namespace qlan::server {

// The table bytes (unscrambled) for the standings of the 40 routes; routes missing from
// the vector count as empty.
std::vector<unsigned char> BuildHighScoreTable(const std::vector<RouteStanding>& routes);

// The whole file: BuildHighScoreTable, scrambled as the tool writes it (10,888 bytes).
std::vector<unsigned char> BuildHighScoreFile(const std::vector<RouteStanding>& routes);

}  // namespace qlan::server
