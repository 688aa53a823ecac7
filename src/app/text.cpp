// Bounded text helpers.
#include "app/text.h"

#include <cstring>
#include <limits>

namespace qlan {

bool CopyText(char* out, std::size_t size, std::string_view src) noexcept {
  if (out == nullptr || src.size() >= size) return false;
  std::memcpy(out, src.data(), src.size());
  out[src.size()] = '\0';
  return true;
}

bool AppendText(char* out, std::size_t size, std::string_view piece) noexcept {
  if (out == nullptr) return false;
  const std::size_t used = BoundedLength(out, size);
  if (used >= size || piece.size() >= size - used) return false;
  std::memcpy(out + used, piece.data(), piece.size());
  out[used + piece.size()] = '\0';
  return true;
}

std::size_t BoundedLength(const char* field, std::size_t size) noexcept {
  const void* zero = std::memchr(field, 0, size);
  return zero == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(zero) - field);
}

long long ReadDecimal(std::string_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  constexpr long long kLimit = std::numeric_limits<long long>::max() / 10 - 9;
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value < kLimit) value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

std::string DecimalText(long long value) { return std::to_string(value); }

}  // namespace qlan
