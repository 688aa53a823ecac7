// The proxy fields' input decisions.
#include "ui/input_filters.h"

#include <algorithm>
#include <string>

#include "app/text.h"

namespace qlan {
namespace {

constexpr bool IsDigitCode(std::uint32_t code) noexcept { return code >= '0' && code <= '9'; }

// Keeps the units of the first limit units of text that keep() accepts. The caret moves
// back by the removed units that stood before it (removals behind it do not move it) and
// never lies beyond the result.
template <typename Keep>
FieldRepair Strip(std::u16string_view text, std::size_t caret, std::size_t limit,
                  Keep keep) noexcept {
  FieldRepair repair;
  const std::u16string_view kept = text.substr(0, std::min(limit, kAddressPasteLimit));
  std::size_t removedBeforeCaret = 0;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (keep(kept[i])) {
      repair.units[repair.length++] = kept[i];
    } else if (i < caret) {
      ++removedBeforeCaret;
    }
  }
  repair.changed = repair.length != text.size();
  repair.caret = std::min(caret - std::min(caret, removedBeforeCaret), repair.length);
  return repair;
}

}  // namespace

bool IsHostNameChar(std::uint32_t code) noexcept {
  return code < 0x80 && code != 0 &&
         kHostNameChars.find(static_cast<char>(code)) != std::string_view::npos;
}

KeyVerdict DecideAddressKey(std::size_t textLength, std::uint32_t code) noexcept {
  if (!IsPrintableCode(code)) return KeyVerdict::kPass;
  if (textLength >= kAddressTypingLimit) return KeyVerdict::kRefuse;
  return IsHostNameChar(code) ? KeyVerdict::kPass : KeyVerdict::kRefuse;
}

KeyVerdict DecidePortKey(std::size_t textLength, std::uint32_t code) noexcept {
  if (!IsPrintableCode(code)) return KeyVerdict::kPass;
  if (textLength >= kPortTypingLimit) return KeyVerdict::kRefuse;
  return IsDigitCode(code) ? KeyVerdict::kPass : KeyVerdict::kRefuse;
}

FieldRepair RepairAddressAfterPaste(std::u16string_view text, std::size_t caret) noexcept {
  return Strip(text, caret, kAddressPasteLimit, [](char16_t unit) { return IsHostNameChar(unit); });
}

FieldRepair CheckPortValue(std::u16string_view text) noexcept {
  FieldRepair repair;
  if (text.empty()) return repair;
  // Read as the dialog reads the field; a unit outside ASCII ends the number like any
  // other non-digit.
  char narrow[kPortReadLimit];
  std::size_t n = 0;
  for (const char16_t unit : text.substr(0, kPortReadLimit)) {
    narrow[n++] = unit < 0x80 ? static_cast<char>(unit) : '?';
  }
  const long long value = ReadDecimal(std::string_view(narrow, n));
  if (value >= 0 && value <= kPortMaximum) return repair;
  // "0" or "65535": short enough for any string's inline storage.
  const std::string clamped = std::to_string(std::clamp(value, 0LL, kPortMaximum));
  repair.changed = true;
  for (const char c : clamped) repair.units[repair.length++] = static_cast<char16_t>(c);
  repair.caret = std::min(kPortTypingLimit, repair.length);
  return repair;
}

FieldRepair RepairPortAfterConversion(std::u16string_view text, std::size_t caret) noexcept {
  // Removed first, then cut: refused keys would not have counted toward the five.
  const std::u16string_view head = text.substr(0, kAddressPasteLimit);
  FieldRepair digits =
      Strip(head, caret, head.size(), [](char16_t unit) { return IsDigitCode(unit); });
  digits.changed = digits.changed || head.size() != text.size() || digits.length > kPortTypingLimit;
  digits.length = std::min(digits.length, kPortTypingLimit);
  digits.units[digits.length] = u'\0';
  digits.caret = std::min(digits.caret, digits.length);
  const FieldRepair clamped = CheckPortValue(digits.text());
  return clamped.changed ? clamped : digits;
}

}  // namespace qlan
