// Bounded text helpers for the fixed-size buffers that paths and short texts live in.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace qlan {

// Size of every path buffer: at most 259 characters and the terminator.
inline constexpr std::size_t kPathSize = 260;

// Copies src into out (size bytes) with its terminator; false, and out left untouched,
// when it would not fit.
bool CopyText(char* out, std::size_t size, std::string_view src) noexcept;

// Appends the pieces to the text already in out; false, and out left untouched, when the
// result would not fit.
bool AppendText(char* out, std::size_t size, std::string_view piece) noexcept;

// Length of a zero-terminated text inside a field of size bytes, never reading past it.
std::size_t BoundedLength(const char* field, std::size_t size) noexcept;

// Decimal value as the dialog and the HTTP layer read numbers: leading white space, an
// optional sign, digits up to the first non-digit; no digits give 0 (and *hadDigits, when
// asked for, false). Saturates instead of overflowing.
long long ReadDecimal(std::string_view text, bool* hadDigits = nullptr) noexcept;

// ASCII letter case ignored, as HTTP and form headers compare names.
bool EqualsIgnoringCase(std::string_view a, std::string_view b) noexcept;
// Without the blanks and tabs at either end.
std::string_view TrimBlanks(std::string_view text) noexcept;

// Bytes from outside (a settings file the game wrote, a server's status line) as UTF-8 for
// the screen: as they are when they are valid UTF-8, else read as code page 932, the game's,
// with U+FFFD for each byte that starts no character there.
std::string ShowableText(std::string_view bytes);

// Code page 932 to UTF-8, all or nothing: false when some byte sequence is no character of
// the code page. The platform's own converter, one file per platform.
bool DecodeCodePage932(std::string_view bytes, std::string& out);

}  // namespace qlan
