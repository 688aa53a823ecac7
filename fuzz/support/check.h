// The fuzzers' assertion: a broken property is a finding, reported like a crash.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define QLAN_FUZZ_CHECK(condition)                                                               \
  do {                                                                                           \
    if (!(condition)) {                                                                          \
      static_cast<void>(                                                                         \
          std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition)); \
      std::abort();                                                                              \
    }                                                                                            \
  } while (false)

namespace qlan::fuzz {

// The big-endian word at offset, as the game's files store their numbers.
inline std::uint32_t WordAt(const std::uint8_t* data, std::size_t offset) {
  return (std::uint32_t{data[offset]} << 24) | (std::uint32_t{data[offset + 1]} << 16) |
         (std::uint32_t{data[offset + 2]} << 8) | std::uint32_t{data[offset + 3]};
}

}  // namespace qlan::fuzz
