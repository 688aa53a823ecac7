// SHA-256 of a run: how the store recognises a run that was entered before.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qlan::server {

using Sha256Digest = std::array<unsigned char, 32>;

// False only when the digest library fails.
bool Sha256(std::string_view bytes, Sha256Digest* out) noexcept;
// The digest of bytes in standard Base64, as a Content-Security-Policy hash source names it;
// empty when the digest library fails.
std::string Sha256Base64(std::string_view bytes);

// A run is its route and its payload: the time, distance, flags and reserved words of the
// header say nothing the payload does not, so another value there is the same run.
bool RunDigest(std::uint32_t route, std::string_view payload, Sha256Digest* out) noexcept;

}  // namespace qlan::server
