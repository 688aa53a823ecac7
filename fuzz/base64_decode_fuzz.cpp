// The server's other readers of client bytes: with an even first byte the request head
// finder and checker, with an odd one the Base64 decoder within the limit the second sets.
#include <cstdint>
#include <string>
#include <string_view>

#include "server/base64_decode.h"
#include "server/request_head.h"
#include "support/check.h"

namespace server = qlan::server;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string_view in(reinterpret_cast<const char*>(data) + 2, size - 2);
  if ((data[0] & 1) != 0) {
    const std::size_t limit = std::size_t{data[1]} * 8;
    std::string out = "stale";
    QLAN_FUZZ_CHECK(server::DecodeBase64(in, &out, limit) || out.empty());
    QLAN_FUZZ_CHECK(out.size() <= limit && out.size() <= in.size() / 4 * 3);
    return 0;
  }
  std::size_t end = 0;
  const server::HeadScan scan = server::FindHeadEnd(in, &end);
  QLAN_FUZZ_CHECK(scan != server::HeadScan::kNeedMore || in.size() <= server::kMaxHeadBytes + 2);
  if (scan != server::HeadScan::kComplete) return 0;
  QLAN_FUZZ_CHECK(end >= 1 && end <= in.size() && in[end - 1] == '\n');
  server::NormalizedHead head;
  if (NormalizeRequestHead(in.substr(0, end), 1 << 20, &head) != server::Outcome::kOk) return 0;
  QLAN_FUZZ_CHECK(!head.method.empty() && (head.target.front() == '/' || head.target == "*"));
  QLAN_FUZZ_CHECK(head.target.size() <= server::kMaxTargetLength + 1);
  QLAN_FUZZ_CHECK(head.contentLength <= (1 << 20) && head.hasBody == (head.contentLength > 0));
  return 0;
}
