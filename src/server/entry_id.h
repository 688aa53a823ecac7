// Entry identifiers: 96 random bits from the kernel, written with the URL-safe Base64
// alphabet, so that no identifier can be guessed from another.
#pragma once
#include <string>
#include <string_view>

namespace qlan::server {

inline constexpr std::size_t kEntryIdLength = 16;  // 12 random bytes

// A fresh identifier; false when the kernel gives no random bytes.
bool NewEntryId(std::string* id);

// True when id has the shape NewEntryId produces (16 characters of A-Z a-z 0-9 - _).
bool IsEntryIdShape(std::string_view id) noexcept;

}  // namespace qlan::server
