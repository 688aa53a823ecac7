// Base64 decoding of the replay text the tool uploads (the tool itself only encodes).
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace qlan::server {

// Decodes standard Base64 (RFC 4648 alphabet, '=' padding only at the very end). CR and LF
// may stand anywhere between characters, since the tool cuts its text into lines. False,
// with out cleared, on any other character, a group cut short, misplaced padding, or a
// result that would exceed maxBytes.
bool DecodeBase64(std::string_view text, std::string* out, std::size_t maxBytes);

}  // namespace qlan::server
