// SHA-256 of a replay's bytes: how the store recognises a run that was entered before.
#pragma once
#include <array>
#include <string>
#include <string_view>

namespace qlan::server {

using Sha256Digest = std::array<unsigned char, 32>;

// False only when the digest library fails.
bool Sha256(std::string_view bytes, Sha256Digest* out) noexcept;
// The digest of bytes in standard Base64, as a Content-Security-Policy hash source names it;
// empty when the digest library fails.
std::string Sha256Base64(std::string_view bytes);

}  // namespace qlan::server
