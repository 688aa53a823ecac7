// Base64 text of a replay file, in 64-character lines joined by a bare LF, written straight
// into the upload's form body.
#pragma once
#include <cstdint>

#include "app/byte_source.h"

namespace qlan {

// The standard alphabet; '=' pads.
inline constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
inline constexpr char kBase64Pad = '=';
inline constexpr int kBase64LineLength = 64;

// Bytes read at a time: a multiple of 3 (and of a whole line's 48), so the output is the
// same as with any other such size.
inline constexpr std::int32_t kBase64ChunkSize = 48 * 4096;

// Length of the text made from size bytes, line feeds included: 4 * G + (G - 1) / 16 with
// G = (size + 2) / 3 groups; 0 for nothing. Saturates instead of overflowing.
constexpr std::int64_t Base64TextLength(std::int64_t size) noexcept {
  if (size <= 0) return 0;
  const std::int64_t groups = size / 3 + (size % 3 != 0 ? 1 : 0);
  if (groups > INT64_MAX / 5) return INT64_MAX;
  return 4 * groups + (groups - 1) / 16;
}

// Encodes exactly size bytes from the source into out, which has room for
// Base64TextLength(size) bytes. False when a read fails or the source holds more or fewer
// bytes than size, or memory for the read buffer runs out.
bool EncodeBase64Into(ByteSource& source, std::int64_t size, char* out) noexcept;

}  // namespace qlan
