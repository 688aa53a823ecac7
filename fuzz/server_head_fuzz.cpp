// The ranking server's other readers of client bytes. Even first byte: the request head
// finder and checker on any bytes. Odd first byte: the Base64 decoder on any text, within
// the limit the second byte sets.
#include <cstdint>
#include <string>
#include <string_view>

#include "server/base64_decode.h"
#include "server/request_head.h"
#include "support/check.h"

namespace {

void CheckHead(std::string_view received) {
  std::size_t end = 0;
  const auto scan = qlan::server::FindHeadEnd(received, &end);
  QLAN_FUZZ_CHECK(scan != qlan::server::HeadScan::kNeedMore ||
                  received.size() <= qlan::server::kMaxHeadBytes + 2);
  if (scan != qlan::server::HeadScan::kComplete) return;
  QLAN_FUZZ_CHECK(end >= 1 && end <= received.size() && received[end - 1] == '\n');
  qlan::server::NormalizedHead head;
  if (NormalizeRequestHead(received.substr(0, end), 1 << 20, &head) != qlan::server::Outcome::kOk) {
    return;
  }
  QLAN_FUZZ_CHECK(!head.method.empty() && (head.target.front() == '/' || head.target == "*"));
  QLAN_FUZZ_CHECK(head.target.size() <= qlan::server::kMaxTargetLength + 1);
  QLAN_FUZZ_CHECK(head.contentLength <= (1 << 20) && head.hasBody == (head.contentLength > 0));
}

void CheckBase64(std::size_t limit, std::string_view input) {
  std::string out = "stale";
  const bool ok = qlan::server::DecodeBase64(input, &out, limit);
  QLAN_FUZZ_CHECK(ok || out.empty());
  QLAN_FUZZ_CHECK(out.size() <= limit && out.size() <= input.size() / 4 * 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  if ((data[0] & 1) == 0) {
    CheckHead(rest);
  } else {
    CheckBase64(std::size_t{data[1]} * 8, rest);
  }
  return 0;
}
