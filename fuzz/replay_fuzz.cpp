// The replay parser on any bytes: the in-memory validator the ranking server uses and the
// file reader the record list uses must agree with each other and with the format.
#include <cstdint>
#include <cstring>
#include <string>

#include "app/text.h"
#include "records/checksum_reference.h"
#include "records/replay.h"
#include "support/check.h"
#include "support/temp_folder.h"

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
  qlan::fuzz::TempFolder();
  qlan::ReplaySummary summary{};
  const int code = qlan::ValidateReplayBytes(data, size, &summary);
  QLAN_FUZZ_CHECK(code == ExpectedCode(data, size));
  if (code == 0) {
    QLAN_FUZZ_CHECK(summary.time == WordAt(data, 4) && summary.distance == WordAt(data, 8) &&
                    summary.route == WordAt(data, 12) && summary.flags == WordAt(data, 52));
  }

  // The same bytes as the file of the route they name (or of route 710).
  const int route = code == 0 ? static_cast<int>(summary.route) : 710;
  char path[qlan::kPathSize];
  QLAN_FUZZ_CHECK(qlan::GetReplayPath(route, path, sizeof path) == 0);
  const std::string file = qlan::fuzz::PosixPath(path);
  QLAN_FUZZ_CHECK(qlan::fuzz::WriteWholeFile(file, data, size));
  const int fileCode = qlan::ReadReplaySummary(route);
  if (code == qlan::kReplayUnusable) {
    // A well-formed file whose route field is outside the range names another route.
    QLAN_FUZZ_CHECK(fileCode == qlan::kReplayUnusable);
  } else {
    QLAN_FUZZ_CHECK(fileCode == code);
  }
  if (fileCode == 0) {
    QLAN_FUZZ_CHECK(qlan::LastReplayTime() == summary.time);
    QLAN_FUZZ_CHECK(qlan::LastReplayDistance() == summary.distance);
    const auto& payload = qlan::LastReplayPayload();
    const std::size_t length = WordAt(data, 60);
    QLAN_FUZZ_CHECK(payload.size() == length);
    QLAN_FUZZ_CHECK(length == 0 || std::memcmp(payload.data(), data + 64, length) == 0);
  }
  return 0;
}
