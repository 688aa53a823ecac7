// The checksum's portable form, which ReplayChecksum uses on processors without carry-less
// multiply; declared so that tests and benchmarks can check and time it everywhere.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qlan {

std::uint32_t ReplayChecksumTablesOnly(std::uint32_t route, std::uint32_t flags,
                                       const unsigned char* data, std::size_t n) noexcept;

}  // namespace qlan
