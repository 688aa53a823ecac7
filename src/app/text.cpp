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

bool EqualsIgnoringCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) noexcept {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace qlan
