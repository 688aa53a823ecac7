// How a route's ranking is cut into pages, and which page a request names.
#pragma once
#include <cstdint>
#include <string_view>

namespace qlan::server {

inline constexpr std::uint32_t kRowsPerPage = 50;
// The entry page shows this many entries above and below the entry.
inline constexpr std::uint32_t kNeighbours = 5;

// How many pages a route of count entries has (one even when it is empty).
std::uint32_t PageCount(std::uint32_t count) noexcept;

// A number written as digits without leading zeros, 1 to 999,999; 0 for anything else.
std::uint32_t PlainNumber(std::string_view text) noexcept;

// The page a route's query names: 1 for none, N for exactly "page=N". Any other text is 0
// (404): the front keys a page on its page field as nginx decodes it, so only the plain
// form may be answered.
std::uint32_t PageOf(std::string_view query) noexcept;

}  // namespace qlan::server
