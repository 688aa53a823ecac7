// The payload checksum, sixteen bytes per step.
//
// One byte step of the definition is linear over GF(2): with S the eight rotate-and-mask
// steps, v' = S(v ^ b), and S(x) = x << 8 for x below 2^24 (bit 31 is never reached), so
// S(v) = (v << 8) ^ T4[v >> 24]. Unrolling sixteen byte steps gives
//   v' = T16[v0 ^ b0] ^ T17[v1] ^ T18[v2] ^ T19[v3]
//        ^ T15[b1] ^ ... ^ T4[b12] ^ b13 << 24 ^ b14 << 16 ^ b15 << 8
// where vj is byte j of v (0 = lowest) and Tk[x] is S applied k times to the low byte x
// (T1..T3 are plain shifts). The mask depends on the whole flags word, so the sixteen
// tables are built per call, a few microseconds.
#include <array>

#include "records/replay.h"

namespace qlan {
namespace {

constexpr std::size_t kStride = 16;
// tables[k] holds T(k + 4), for k = 0..15.
using Tables = std::array<std::array<std::uint32_t, 256>, kStride>;

void BuildTables(std::uint32_t mask, Tables& t) noexcept {
  for (std::uint32_t x = 0; x < 256; ++x) {
    std::uint32_t v = x << 24;
    for (int bit = 0; bit < 8; ++bit) {
      const std::uint32_t top = v >> 31;
      v = ((v << 1) | top) ^ (mask & (0u - top));
    }
    t[0][x] = v;
  }
  for (std::size_t k = 1; k < kStride; ++k) {
    for (std::size_t x = 0; x < 256; ++x) {
      const std::uint32_t prev = t[k - 1][x];
      t[k][x] = (prev << 8) ^ t[0][prev >> 24];
    }
  }
}

}  // namespace

std::uint32_t ReplayChecksum(std::uint32_t route, std::uint32_t flags, const unsigned char* data,
                             std::size_t n) noexcept {
  const std::uint32_t mask =
      flags ^ ((flags & kChecksumFlagBit) != 0 ? kChecksumConstantSet : kChecksumConstantClear);
  Tables t;
  BuildTables(mask, t);

  std::uint32_t v = route;
  const unsigned char* p = data;
  std::size_t left = n;
  while (left >= kStride) {
    // The data terms do not depend on v; keep them apart so the chain through v stays
    // short (one load and two XORs per sixteen bytes).
    const std::uint32_t d =
        ((t[11][p[1]] ^ t[10][p[2]]) ^ (t[9][p[3]] ^ t[8][p[4]])) ^
        ((t[7][p[5]] ^ t[6][p[6]]) ^ (t[5][p[7]] ^ t[4][p[8]])) ^
        ((t[3][p[9]] ^ t[2][p[10]]) ^ (t[1][p[11]] ^ t[0][p[12]])) ^
        ((static_cast<std::uint32_t>(p[13]) << 24) | (static_cast<std::uint32_t>(p[14]) << 16) |
         (static_cast<std::uint32_t>(p[15]) << 8));
    const std::uint32_t s = (t[12][(v ^ p[0]) & 0xFF] ^ t[13][(v >> 8) & 0xFF]) ^
                            (t[14][(v >> 16) & 0xFF] ^ t[15][v >> 24]);
    v = s ^ d;
    p += kStride;
    left -= kStride;
  }
  while (left > 0) {
    v = ((v ^ *p) << 8) ^ t[0][v >> 24];
    ++p;
    --left;
  }
  return v;
}

}  // namespace qlan
