// What the proxy address and port fields accept: the decisions behind their input filters,
// on UTF-16 field texts, free of any window-system type so they can be tested natively.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "net/http.h"

namespace qlan {

// The characters a proxy host name or dotted address may contain.
inline constexpr std::string_view kHostNameChars =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-.";

// Typed characters are taken only while the address is shorter than this; a pasted text is
// cut to kAddressPasteLimit. The settings record holds 127 characters and a terminator.
inline constexpr std::size_t kAddressTypingLimit = 126;
inline constexpr std::size_t kAddressPasteLimit = 127;
// Typed digits are taken only while the port is shorter than this.
inline constexpr std::size_t kPortTypingLimit = 5;
// The port's value is read from at most this many characters, as the dialog reads it.
inline constexpr std::size_t kPortReadLimit = 7;
inline constexpr long long kPortMaximum = kHighestPort;

// 0x20 and above except 0x7F. Backspace and the control codes of the clipboard shortcuts
// are not printable and always reach the field.
constexpr bool IsPrintableCode(std::uint32_t code) noexcept { return code >= 0x20 && code != 0x7F; }

// A UTF-16 unit (or any code) that is one of kHostNameChars; nothing outside ASCII is.
bool IsHostNameChar(std::uint32_t code) noexcept;

enum class KeyVerdict {
  kPass,    // hand the character to the field
  kRefuse,  // beep, and the field never sees it
};

// A typed character (one UTF-16 unit, as a character message carries it) for a field whose
// whole text is textLength units long. The limit counts the whole text even when a
// selection would be replaced by the character.
KeyVerdict DecideAddressKey(std::size_t textLength, std::uint32_t code) noexcept;
KeyVerdict DecidePortKey(std::size_t textLength, std::uint32_t code) noexcept;

// What a field should become after an edit; nothing to do when changed is false. Fixed
// storage, so a window procedure can use it without allocating.
struct FieldRepair {
  bool changed = false;  // beep, replace the text, set the caret with nothing selected
  std::array<char16_t, kAddressPasteLimit + 1> units{};  // zero-terminated
  std::size_t length = 0;
  std::size_t caret = 0;

  std::u16string_view text() const noexcept { return {units.data(), length}; }
};

// The address field after a paste: text is the field's whole text, caret the start of its
// selection (just behind the pasted text). Keeps the first 127 units and removes from them
// every unit not in kHostNameChars; the caret moves back by the removed units that stood
// before it and never lies beyond the repaired text.
FieldRepair RepairAddressAfterPaste(std::u16string_view text, std::size_t caret) noexcept;

// The port field after a passed character or a paste: text is its whole text. The value of
// its first 7 units, read as the dialog reads it, is clamped into 0..65535; the clamped
// value replaces the text with the caret at its end (at most 5).
FieldRepair CheckPortValue(std::u16string_view text) noexcept;

// The port field after an input method put a converted text into it, which no character
// message announced: what typing would have refused goes (every unit that is not a digit
// "0" to "9", and whatever lies beyond 5 units), the caret moves back as after an address
// paste, and the value check follows.
FieldRepair RepairPortAfterConversion(std::u16string_view text, std::size_t caret) noexcept;

}  // namespace qlan
