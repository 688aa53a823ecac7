// The replay checksum exactly as defined, one bit at a time. Tests and benchmarks use it
// as the oracle for the table-driven ReplayChecksum; the program itself never calls it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "records/replay.h"

namespace qlan::reference {

inline std::uint32_t ReplayChecksumBitwise(std::uint32_t route, std::uint32_t flags,
                                           const unsigned char* data, std::size_t n) noexcept {
  const std::uint32_t mask =
      flags ^ ((flags & kChecksumFlagBit) != 0 ? kChecksumConstantSet : kChecksumConstantClear);
  std::uint32_t v = route;
  for (std::size_t i = 0; i < n; ++i) {
    v ^= data[i];
    for (int bit = 0; bit < 8; ++bit) {
      const std::uint32_t top = v >> 31;
      v = (v << 1) | top;
      if (top != 0) v ^= mask;
    }
  }
  return v;
}

}  // namespace qlan::reference
