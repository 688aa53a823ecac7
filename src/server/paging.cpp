// Paging of the ranking's pages.
#include "server/paging.h"

#include "server/site.h"

namespace qlan::server {

std::uint32_t PageCount(std::uint32_t count) noexcept {
  return count == 0 ? 1 : (count - 1) / kRowsPerPage + 1;
}

std::uint32_t PlainNumber(std::string_view text) noexcept {
  if (text.empty() || text.size() > 6 || text[0] == '0') return 0;
  std::uint32_t n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return n;
}

std::uint32_t PageOf(std::string_view query) noexcept {
  const std::string_view field = kPageField;
  if (query.empty()) return 1;
  const bool named = query.size() > field.size() && query.substr(0, field.size()) == field &&
                     query[field.size()] == '=';
  return named ? PlainNumber(query.substr(field.size() + 1)) : 0;
}

}  // namespace qlan::server
