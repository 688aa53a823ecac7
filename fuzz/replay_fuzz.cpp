// The replay parser on any bytes (the file reader shares it): its code and summary must
// agree with the format as checked by hand.
#include <cstdint>
#include <cstring>

#include "records/checksum_reference.h"
#include "records/replay.h"
#include "support/check.h"

namespace {

using qlan::fuzz::WordAt;

// The format as a reader would check it by hand: magic, 15 words, payload, checksum.
int ExpectedCode(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return qlan::kReplayShortHeader;
  if (std::memcmp(data, "QLNR", 4) != 0) return qlan::kReplayBadMagic;
  if (size < qlan::kReplayHeaderSize) return qlan::kReplayShortHeader;
  const std::uint32_t length = WordAt(data, 60);
  if (length > size - qlan::kReplayHeaderSize) return qlan::kReplayShortPayload;
  const std::uint32_t route = WordAt(data, 12);
  if (qlan::reference::ReplayChecksumBitwise(route, WordAt(data, 52), data + 64, length) !=
      WordAt(data, 56)) {
    return qlan::kReplayBadChecksum;
  }
  if (route < 710 || route > 749) return qlan::kReplayUnusable;
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qlan::ReplaySummary summary{};
  const int code = qlan::ValidateReplayBytes(data, size, &summary);
  QLAN_FUZZ_CHECK(code == ExpectedCode(data, size));
  if (code == 0) {
    QLAN_FUZZ_CHECK(summary.time == WordAt(data, 4) && summary.distance == WordAt(data, 8) &&
                    summary.route == WordAt(data, 12) && summary.flags == WordAt(data, 52) &&
                    summary.size == qlan::kReplayHeaderSize + WordAt(data, 60));
  }
  return 0;
}
