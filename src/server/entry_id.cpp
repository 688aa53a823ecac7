// Random entry identifiers.
#include "server/entry_id.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>

namespace qlan::server {
namespace {

constexpr char kUrlAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

bool IsUrlChar(char c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

}  // namespace

bool NewEntryId(std::string* id) {
  std::uint8_t bytes[12];
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    got += static_cast<std::size_t>(n);
  }
  id->clear();
  id->reserve(kEntryIdLength);
  for (std::size_t i = 0; i < sizeof bytes; i += 3) {
    const std::uint32_t group = (static_cast<std::uint32_t>(bytes[i]) << 16) |
                                (static_cast<std::uint32_t>(bytes[i + 1]) << 8) | bytes[i + 2];
    id->push_back(kUrlAlphabet[(group >> 18) & 63]);
    id->push_back(kUrlAlphabet[(group >> 12) & 63]);
    id->push_back(kUrlAlphabet[(group >> 6) & 63]);
    id->push_back(kUrlAlphabet[group & 63]);
  }
  return true;
}

bool IsEntryIdShape(std::string_view id) noexcept {
  if (id.size() != kEntryIdLength) return false;
  for (const char c : id) {
    if (!IsUrlChar(c)) return false;
  }
  return true;
}

}  // namespace qlan::server
