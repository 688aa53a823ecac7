// The payload checksum, eight bytes per step.
//
// One byte step of the definition is linear over GF(2): with S the eight rotate-and-mask
// steps, v' = S(v ^ b), and S(x) = x << 8 for x below 2^24 (bit 31 is never reached), so
// S(v) = (v << 8) ^ T4[v >> 24]. Unrolling eight byte steps gives
//   v' = T8[v0 ^ b0] ^ T9[v1] ^ T10[v2] ^ T11[v3]
//        ^ T7[b1] ^ T6[b2] ^ T5[b3] ^ T4[b4] ^ b5 << 24 ^ b6 << 16 ^ b7 << 8
// where vj is byte j of v (0 = lowest) and Tk[x] is S applied k times to the low byte x;
// T1..T3 are plain shifts, so eight tables remain. The mask depends on the whole
// flags word, so the tables are built per call (about 4,000 operations).
#include <array>

#include "records/replay.h"

namespace qlan {
namespace {

// kTables[k] holds T(k + 4).
constexpr int kTables = 8;
using Tables = std::array<std::array<std::uint32_t, 256>, kTables>;

void BuildTables(std::uint32_t mask, Tables& t) noexcept {
  for (std::uint32_t x = 0; x < 256; ++x) {
    std::uint32_t v = x << 24;
    for (int bit = 0; bit < 8; ++bit) {
      const std::uint32_t top = v >> 31;
      v = ((v << 1) | top) ^ (mask & (0u - top));
    }
    t[0][x] = v;
  }
  for (int k = 1; k < kTables; ++k) {
    for (std::size_t x = 0; x < 256; ++x) {
      const std::uint32_t prev = t[static_cast<std::size_t>(k - 1)][x];
      t[static_cast<std::size_t>(k)][x] = (prev << 8) ^ t[0][prev >> 24];
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
  const auto& t4 = t[0];
  const auto& t5 = t[1];
  const auto& t6 = t[2];
  const auto& t7 = t[3];
  const auto& t8 = t[4];
  const auto& t9 = t[5];
  const auto& t10 = t[6];
  const auto& t11 = t[7];

  std::uint32_t v = route;
  const unsigned char* p = data;
  std::size_t left = n;
  while (left >= 8) {
    v = t8[(v ^ p[0]) & 0xFF] ^ t9[(v >> 8) & 0xFF] ^ t10[(v >> 16) & 0xFF] ^ t11[v >> 24] ^
        t7[p[1]] ^ t6[p[2]] ^ t5[p[3]] ^ t4[p[4]] ^
        (static_cast<std::uint32_t>(p[5]) << 24) ^ (static_cast<std::uint32_t>(p[6]) << 16) ^
        (static_cast<std::uint32_t>(p[7]) << 8);
    p += 8;
    left -= 8;
  }
  while (left > 0) {
    v = ((v ^ *p) << 8) ^ t4[v >> 24];
    ++p;
    --left;
  }
  return v;
}

}  // namespace qlan
