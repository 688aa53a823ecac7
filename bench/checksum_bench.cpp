// Replay checksum throughput on one 64 MiB buffer: the checksum as the program runs it
// (folded with carry-less multiply where the processor has it) and its portable
// table-driven form, against the bit-by-bit definition and zlib's crc32, in one run.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "records/checksum_reference.h"
#include "records/replay.h"
#include "records/replay_checksum.h"

#ifdef QLAN_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

// Best of several runs, in seconds; the result is kept so nothing is optimised away.
template <typename F>
double BestSeconds(int runs, F&& f, std::uint32_t* keep) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    *keep ^= f();
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    if (s < best) best = s;
  }
  return best;
}

}  // namespace

int main() {
  constexpr std::size_t kSize = 64u << 20;
  std::vector<unsigned char> buffer(kSize);
  std::mt19937 random(710);
  for (auto& b : buffer) b = static_cast<unsigned char>(random() >> 24);
  const double mib = static_cast<double>(kSize) / (1024.0 * 1024.0);

  std::uint32_t keep = 0;
  std::uint32_t fastResult = 0;
  const double fast = BestSeconds(
      5,
      [&] {
        fastResult = qlan::ReplayChecksum(745, 0x400, buffer.data(), buffer.size());
        return fastResult;
      },
      &keep);
  std::uint32_t tableResult = 0;
  const double tables = BestSeconds(
      5,
      [&] {
        tableResult = qlan::ReplayChecksumTablesOnly(745, 0x400, buffer.data(), buffer.size());
        return tableResult;
      },
      &keep);
  std::uint32_t bitResult = 0;
  const double bitwise = BestSeconds(
      2,
      [&] {
        bitResult =
            qlan::reference::ReplayChecksumBitwise(745, 0x400, buffer.data(), buffer.size());
        return bitResult;
      },
      &keep);
  if (fastResult != bitResult || tableResult != bitResult) {
    std::printf("MISMATCH: checksum %08x, tables %08x, bit-by-bit %08x\n", fastResult, tableResult,
                bitResult);
    return 1;
  }

  std::printf("replay checksum, %.0f MiB buffer (best of runs)\n", mib);
  std::printf("  bit-by-bit     %8.1f MiB/s   (anchor)\n", mib / bitwise);
  std::printf("  ReplayChecksum %8.1f MiB/s   %6.1fx bit-by-bit (target >= 10x)\n", mib / fast,
              bitwise / fast);
  std::printf("  tables only    %8.1f MiB/s   %6.1fx bit-by-bit\n", mib / tables, bitwise / tables);
#ifdef QLAN_HAVE_ZLIB
  const double zlib = BestSeconds(
      5,
      [&] {
        return static_cast<std::uint32_t>(
            crc32(0L, buffer.data(), static_cast<uInt>(buffer.size())));
      },
      &keep);
  std::printf("  zlib crc32     %8.1f MiB/s   ReplayChecksum %.2fx, tables only %.2fx of it\n",
              mib / zlib, zlib / fast, zlib / tables);
#else
  std::printf("  zlib crc32     not measured (built without zlib)\n");
#endif
  std::printf("(checksum %08x, ignore: %08x)\n", fastResult, keep);
  return 0;
}
