// The server's Base64 decoder on any text, within the limit the first byte sets.
#include <cstdint>
#include <string>
#include <string_view>

#include "server/base64_decode.h"
#include "support/check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string_view in(reinterpret_cast<const char*>(data) + 2, size - 2);
  const std::size_t limit = std::size_t{data[1]} * 8;
  std::string out = "stale";
  QLAN_FUZZ_CHECK(qlan::server::DecodeBase64(in, &out, limit) || out.empty());
  QLAN_FUZZ_CHECK(out.size() <= limit && out.size() <= in.size() / 4 * 3);
  return 0;
}
