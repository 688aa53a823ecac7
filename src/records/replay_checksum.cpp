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
//
// Where the processor multiplies without carries, long payloads are folded 64 bytes at a
// time instead. One bit step is v * x mod P with P = x^32 + (mask ^ 1), so after bytes
// b0..b(L-1) from state v the result is v * x^(8L) + X * x^8 mod P, X being the bytes as
// one polynomial, b0 highest. X is folded down to 128 bits R with R = X mod P, and
// R * x^8 mod P is sixteen table steps from state 0; v * x^(8L) enters as v * x^24 XORed
// into the top word of the first block.
#include <array>

#include "records/replay.h"
#include "records/replay_checksum.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define QLAN_CHECKSUM_CLMUL 1
#endif

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

// One byte step with no input: v * x^8 mod P.
inline std::uint32_t ShiftByte(const Tables& t, std::uint32_t v) noexcept {
  return (v << 8) ^ t[0][v >> 24];
}

#ifdef QLAN_CHECKSUM_CLMUL

constexpr std::size_t kFoldBlock = 64;
constexpr std::size_t kFoldMinimum = 256;

// x^k mod P, one bit step at a time (k is at most a few hundred).
std::uint64_t PowerOfX(unsigned k, std::uint32_t mask) noexcept {
  const std::uint32_t low = mask ^ 1u;
  std::uint32_t v = 1;
  for (unsigned i = 0; i < k; ++i) {
    const std::uint32_t top = v >> 31;
    v = (v << 1) ^ (low & (0u - top));
  }
  return v;
}

bool HasCarrylessMultiply() noexcept {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
  }();
  return has;
}

// A * x^D mod P (up to 95 bits) for k = {x^D mod P, x^(D+64) mod P}.
__attribute__((target("pclmul,ssse3"))) inline __m128i Fold(__m128i a, __m128i k) noexcept {
  return _mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x00), _mm_clmulepi64_si128(a, k, 0x11));
}

// Sixteen bytes as a polynomial, the first byte highest.
__attribute__((target("pclmul,ssse3"))) inline __m128i Load(const unsigned char* p,
                                                            __m128i swap) noexcept {
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), swap);
}

// The state after the first n bytes (n a multiple of 64, at least 256) from state v.
__attribute__((target("pclmul,ssse3"))) std::uint32_t FoldBlocks(const Tables& t,
                                                                 std::uint32_t mask,
                                                                 std::uint32_t v,
                                                                 const unsigned char* p,
                                                                 std::size_t n) noexcept {
  const __m128i swap = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m128i k512 = _mm_set_epi64x(static_cast<long long>(PowerOfX(576, mask)),
                                      static_cast<long long>(PowerOfX(512, mask)));
  const __m128i k128 = _mm_set_epi64x(static_cast<long long>(PowerOfX(192, mask)),
                                      static_cast<long long>(PowerOfX(128, mask)));
  const std::uint32_t v24 = ShiftByte(t, ShiftByte(t, ShiftByte(t, v)));
  __m128i x0 = _mm_xor_si128(Load(p, swap), _mm_set_epi32(static_cast<int>(v24), 0, 0, 0));
  __m128i x1 = Load(p + 16, swap);
  __m128i x2 = Load(p + 32, swap);
  __m128i x3 = Load(p + 48, swap);
  for (std::size_t at = kFoldBlock; at < n; at += kFoldBlock) {
    x0 = _mm_xor_si128(Fold(x0, k512), Load(p + at, swap));
    x1 = _mm_xor_si128(Fold(x1, k512), Load(p + at + 16, swap));
    x2 = _mm_xor_si128(Fold(x2, k512), Load(p + at + 32, swap));
    x3 = _mm_xor_si128(Fold(x3, k512), Load(p + at + 48, swap));
  }
  x1 = _mm_xor_si128(x1, Fold(x0, k128));
  x2 = _mm_xor_si128(x2, Fold(x1, k128));
  x3 = _mm_xor_si128(x3, Fold(x2, k128));

  alignas(16) unsigned char r[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(r), _mm_shuffle_epi8(x3, swap));
  std::uint32_t state = 0;
  for (unsigned char b : r) state = ((state ^ b) << 8) ^ t[0][state >> 24];
  return state;
}

#endif

std::uint32_t Checksum(std::uint32_t route, std::uint32_t flags, const unsigned char* data,
                       std::size_t n, bool mayFold) noexcept {
  const std::uint32_t mask =
      flags ^ ((flags & kChecksumFlagBit) != 0 ? kChecksumConstantSet : kChecksumConstantClear);
  Tables t;
  BuildTables(mask, t);

  std::uint32_t v = route;
  const unsigned char* p = data;
  std::size_t left = n;
#ifndef QLAN_CHECKSUM_CLMUL
  static_cast<void>(mayFold);
#else
  if (mayFold && left >= kFoldMinimum && HasCarrylessMultiply()) {
    const std::size_t folded = left - left % kFoldBlock;
    v = FoldBlocks(t, mask, v, p, folded);
    p += folded;
    left -= folded;
  }
#endif
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

}  // namespace

std::uint32_t ReplayChecksum(std::uint32_t route, std::uint32_t flags, const unsigned char* data,
                             std::size_t n) noexcept {
  return Checksum(route, flags, data, n, true);
}

std::uint32_t ReplayChecksumTablesOnly(std::uint32_t route, std::uint32_t flags,
                                       const unsigned char* data, std::size_t n) noexcept {
  return Checksum(route, flags, data, n, false);
}

}  // namespace qlan
