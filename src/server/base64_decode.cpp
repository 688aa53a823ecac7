// Base64 decoding with the tool's line breaks allowed between characters.
#include "server/base64_decode.h"

#include <array>
#include <cstdint>

#include "net/base64.h"

namespace qlan::server {
namespace {

constexpr std::uint8_t kInvalid = 0xFF;
constexpr std::uint8_t kPad = 0xFE;
constexpr std::uint8_t kSkip = 0xFD;

constexpr std::array<std::uint8_t, 256> MakeTable() {
  std::array<std::uint8_t, 256> t{};
  for (auto& v : t) v = kInvalid;
  for (std::uint8_t i = 0; i < 64; ++i) t[static_cast<unsigned char>(kBase64Alphabet[i])] = i;
  t[static_cast<unsigned char>(kBase64Pad)] = kPad;
  t['\r'] = kSkip;
  t['\n'] = kSkip;
  return t;
}

constexpr std::array<std::uint8_t, 256> kTable = MakeTable();

}  // namespace

bool DecodeBase64(std::string_view text, std::string* out, std::size_t maxBytes) {
  out->clear();
  const std::size_t estimate = text.size() / 4 * 3;
  out->reserve(estimate < maxBytes ? estimate : maxBytes);

  std::uint32_t group = 0;
  int count = 0;    // characters in the current group
  int padding = 0;  // '=' seen; only more '=' and line breaks may follow
  for (const char ch : text) {
    const std::uint8_t v = kTable[static_cast<unsigned char>(ch)];
    if (v == kSkip) continue;
    if (v == kInvalid) {
      out->clear();
      return false;
    }
    if (v == kPad) {
      // Padding may only fill the third and fourth place of the last group.
      if (count < 2) {
        out->clear();
        return false;
      }
      ++padding;
      ++count;
    } else {
      if (padding > 0) {
        out->clear();
        return false;
      }
      group = (group << 6) | v;
      ++count;
    }
    if (count == 4) {
      const int bytes = 3 - padding;
      if (padding == 1) group <<= 6;
      if (padding == 2) group <<= 12;
      if (out->size() + static_cast<std::size_t>(bytes) > maxBytes) {
        out->clear();
        return false;
      }
      out->push_back(static_cast<char>((group >> 16) & 0xFF));
      if (bytes > 1) out->push_back(static_cast<char>((group >> 8) & 0xFF));
      if (bytes > 2) out->push_back(static_cast<char>(group & 0xFF));
      group = 0;
      count = 0;
      if (padding > 0) padding = 3;  // the text must end here
    }
  }
  if (count != 0) {
    out->clear();
    return false;
  }
  return true;
}

}  // namespace qlan::server
