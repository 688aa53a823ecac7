// Base64 of the upload: known answers in the 64-character line layout, sizes across read
// chunks and at the entry limit decoded back, and sources that fail or disagree with their size.
#include "net/base64.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "net_test_support.h"

namespace qlan::test {
namespace {

// The text of size bytes from the source, written into a buffer that must end where the
// text's length says; empty on failure.
std::string Encode(ByteSource& source, std::int64_t size, bool expectOk = true) {
  const auto n = static_cast<std::size_t>(Base64TextLength(size));
  std::string out(n + 8, '#');
  EXPECT_EQ(EncodeBase64Into(source, size, out.data()), expectOk) << size;
  EXPECT_EQ(out.substr(n), std::string(8, '#')) << "written beyond the text";
  return expectOk ? out.substr(0, n) : std::string();
}

std::string Encode(const Bytes& bytes) {
  MemorySource source(bytes.data(), bytes.size());
  return Encode(source, static_cast<std::int64_t>(bytes.size()));
}

// Decoder written from the standard's table, independent of the encoder.
Bytes Decode(const std::string& text) {
  static const std::string kTable =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  Bytes out;
  std::uint32_t acc = 0;
  int bits = 0;
  for (const char c : text) {
    if (c == '\n' || c == '=') continue;
    const auto v = kTable.find(c);
    if (v == std::string::npos) return {};
    acc = (acc << 6) | static_cast<std::uint32_t>(v);
    bits += 6;
    if (bits >= 8) out.push_back(static_cast<std::uint8_t>(acc >> (bits -= 8)));
  }
  return out;
}

TEST(Base64Test, KnownBytesGiveTheStandardTextInLinesOf64) {
  const auto bytes = [](const char* s) { return Bytes(s, s + std::strlen(s)); };
  const std::string line1 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v";
  const std::pair<Bytes, std::string> cases[] = {
      {{}, ""},
      {bytes("f"), "Zg=="},
      {bytes("fo"), "Zm8="},
      {bytes("foo"), "Zm9v"},
      {bytes("foobar"), "Zm9vYmFy"},
      {Bytes{0xFF, 0xFE, 0x00}, "//4A"},
      {Counting(48), line1},
      {Counting(49), line1 + "\nMA=="},  // more lines: decoded back below
  };
  for (const auto& [in, text] : cases) EXPECT_EQ(Encode(in), text) << in.size() << " bytes";
}

TEST(Base64Test, SizesAcrossReadChunksAndAtTheEntryLimitDecodeBack) {
  const std::int64_t chunk = kBase64ChunkSize;
  for (const std::int64_t size :
       {chunk - 1, chunk, chunk + 1, chunk + 2, std::int64_t{3097332}, std::int64_t{3097333}}) {
    Bytes original(static_cast<std::size_t>(size));
    std::uint32_t x = 0x12345678u;
    for (auto& v : original) v = static_cast<std::uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
    const std::string text = Encode(original);
    // A bare LF after every 64 characters and nowhere else; padding only at the very end.
    for (std::size_t i = 0; i < text.size(); ++i)
      ASSERT_EQ(text[i] == '\n', (i + 1) % 65 == 0) << i;
    EXPECT_GE(text.find('='), text.size() - 2);
    EXPECT_TRUE(Decode(text) == original) << size << " bytes";
  }
}

TEST(Base64Test, SourceThatFailsOrDisagreesWithItsSizeIsRefused) {
  const std::int64_t chunk = kBase64ChunkSize;
  const struct {
    std::int64_t announced, available;
    bool failAtEnd, ok;
    int reads;
  } cases[] = {{3 * chunk, chunk, true, false, 2},  // read failure in the middle
               {1000, 999, false, false, 1},        // shorter than announced
               {1000, 1001, false, false, 2},       // longer than announced
               {-1, 0, false, false, 0},
               {1000, 1000, false, true, 2}};
  for (const auto& c : cases) {
    FakeReplay source(Bytes(static_cast<std::size_t>(c.available), 0x5A), c.announced, c.failAtEnd);
    Encode(source, c.announced, c.ok);
    EXPECT_EQ(source.reads, c.reads) << c.announced << "/" << c.available;
  }
  // Every other length is checked by Encode's buffer end.
  EXPECT_EQ(Base64TextLength(-1), 0);
  EXPECT_EQ(Base64TextLength(INT64_MAX), INT64_MAX);
}

}  // namespace
}  // namespace qlan::test
