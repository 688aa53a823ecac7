// The ranking server's other readers of client bytes. Even first byte: the request head
// finder and normaliser on any bytes; a normalised head must be strict CR LF text that
// reads back to the same request. Odd first byte: the Base64 decoder on any text, and on
// the text of the rest as the tool would send it, which must decode back to the bytes.
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

#include "server/base64_decode.h"
#include "server/request_head.h"
#include "support/check.h"

namespace {

using qlan::server::HeadScan;
using qlan::server::NormalizedHead;

constexpr std::uint64_t kMaxBody = 1 << 20;

// The head without its lines named kContentTypeHeader (in any case).
std::string WithoutInternalLines(std::string_view head) {
  const std::string_view name = qlan::server::kContentTypeHeader;
  std::string kept;
  while (!head.empty()) {
    const std::size_t lf = head.find('\n');
    const std::string_view line =
        head.substr(0, lf == std::string_view::npos ? head.size() : lf + 1);
    bool internal = line.size() > name.size() && line[name.size()] == ':';
    for (std::size_t i = 0; internal && i < name.size(); ++i) {
      internal = std::tolower(static_cast<unsigned char>(line[i])) ==
                 std::tolower(static_cast<unsigned char>(name[i]));
    }
    if (!internal) kept.append(line);
    head.remove_prefix(line.size());
  }
  return kept;
}

void CheckHead(std::string_view received) {
  std::size_t end = 0;
  const HeadScan scan = qlan::server::FindHeadEnd(received, &end);
  if (scan == HeadScan::kNeedMore) {
    QLAN_FUZZ_CHECK(received.size() <= qlan::server::kMaxHeadBytes + 2);
    return;
  }
  if (scan != HeadScan::kComplete) return;
  QLAN_FUZZ_CHECK(end >= 1 && end <= received.size() && received[end - 1] == '\n');
  NormalizedHead head;
  const int status = qlan::server::NormalizeRequestHead(received.substr(0, end), kMaxBody, &head);
  QLAN_FUZZ_CHECK(status == 0 || status == 400 || status == 411 || status == 413 || status == 414 ||
                  status == 431 || status == 501 || status == 505);
  if (status != 0) return;
  QLAN_FUZZ_CHECK(!head.method.empty() && !head.target.empty());
  QLAN_FUZZ_CHECK(head.target.front() == '/' || head.target == "*");
  QLAN_FUZZ_CHECK(head.target.size() <= qlan::server::kMaxTargetLength + 1);
  QLAN_FUZZ_CHECK(head.contentLength <= kMaxBody && head.hasBody == (head.contentLength > 0));
  // Strict line ends only, and the rewritten head is itself a complete head.
  const std::string& text = head.head;
  QLAN_FUZZ_CHECK(text.size() >= 4 && text.compare(text.size() - 4, 4, "\r\n\r\n") == 0);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') QLAN_FUZZ_CHECK(i > 0 && text[i - 1] == '\r');
    if (text[i] == '\r') QLAN_FUZZ_CHECK(i + 1 < text.size() && text[i + 1] == '\n');
  }
  std::size_t againEnd = 0;
  QLAN_FUZZ_CHECK(qlan::server::FindHeadEnd(text, &againEnd) == HeadScan::kComplete &&
                  againEnd == text.size());
  // Read again, it is the same request; only the renamed Content-Type line goes, since a
  // client's own line of that name is dropped.
  NormalizedHead again;
  QLAN_FUZZ_CHECK(qlan::server::NormalizeRequestHead(text, kMaxBody, &again) == 0);
  QLAN_FUZZ_CHECK(again.method == head.method && again.target == head.target &&
                  again.contentLength == head.contentLength);
  QLAN_FUZZ_CHECK(again.head == WithoutInternalLines(text));
}

// Standard Base64 with a line feed after every 76 characters, as the tool sends it.
std::string Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  std::size_t column = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t group = std::uint32_t{static_cast<unsigned char>(bytes[i])} << 16;
    if (i + 1 < bytes.size()) group |= std::uint32_t{static_cast<unsigned char>(bytes[i + 1])} << 8;
    if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
    if (column == 76) {
      text.push_back('\n');
      column = 0;
    }
    text.push_back(kAlphabet[(group >> 18) & 63]);
    text.push_back(kAlphabet[(group >> 12) & 63]);
    text.push_back(i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=');
    text.push_back(i + 2 < bytes.size() ? kAlphabet[group & 63] : '=');
    column += 4;
  }
  return text;
}

void CheckBase64(std::uint8_t limitByte, std::string_view input) {
  const std::size_t limit = std::size_t{limitByte} * 8;
  std::string out = "stale";
  if (qlan::server::DecodeBase64(input, &out, limit)) {
    std::size_t symbols = 0;
    std::size_t padding = 0;
    for (const char c : input) {
      if (c == '\r' || c == '\n') continue;
      ++symbols;
      if (c == '=') ++padding;
    }
    QLAN_FUZZ_CHECK(symbols % 4 == 0 && padding <= 2 && out.size() == symbols / 4 * 3 - padding);
    QLAN_FUZZ_CHECK(out.size() <= limit);
  } else {
    QLAN_FUZZ_CHECK(out.empty());
  }

  std::string back;
  const bool fits = input.size() <= limit;
  QLAN_FUZZ_CHECK(qlan::server::DecodeBase64(Encode(input), &back, limit) == fits);
  if (fits) QLAN_FUZZ_CHECK(back == input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  if ((data[0] & 1) == 0) {
    CheckHead(rest);
  } else {
    CheckBase64(data[1], rest);
  }
  return 0;
}
