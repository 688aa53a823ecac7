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

long long ReadDecimal(std::string_view text, bool* hadDigits) noexcept {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  constexpr long long kLimit = std::numeric_limits<long long>::max() / 10 - 9;
  long long value = 0;
  if (hadDigits != nullptr) *hadDigits = i < text.size() && text[i] >= '0' && text[i] <= '9';
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

namespace {

// Length of the UTF-8 sequence at text[i], or 0 when it is not a well-formed one (no
// overlong forms, no surrogates, nothing above U+10FFFF).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) noexcept {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  std::size_t n = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - i < n || byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < n; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return n;
}

bool IsValidUtf8(std::string_view text) noexcept {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = Utf8SequenceLength(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

// Bytes of the code page 932 character at text[i], or 0 when none starts there. Checked
// here, so that every platform's converter sees only well-formed characters.
std::size_t CodePage932CharLength(std::string_view text, std::size_t i) noexcept {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80 || (lead >= 0xA1 && lead <= 0xDF)) return 1;
  const bool leadByte = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
  if (!leadByte || i + 1 >= text.size()) return 0;
  const auto trail = static_cast<unsigned char>(text[i + 1]);
  return trail >= 0x40 && trail <= 0xFC && trail != 0x7F ? 2 : 0;
}

}  // namespace

std::string ShowableText(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  // Character by character, so one bad byte costs only its own place.
  std::string shown;
  std::string one;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = CodePage932CharLength(bytes, i);
    const bool decoded = n > 0 && DecodeCodePage932(bytes.substr(i, n), one);
    shown += decoded ? one : "\xEF\xBF\xBD";
    i += decoded ? n : 1;
  }
  return shown;
}

}  // namespace qlan
