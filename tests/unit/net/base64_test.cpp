// Base64 text of files: known answers in the 64-character line layout, sizes across read
// chunks and at the entry limit decoded back, and failed or changing reads.
#include "net/base64.h"
#include "net/upload.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "net_test_support.h"
#include "support/temp_env.h"

namespace qlan {
namespace {

using test::Bytes;
using test::Counting;

Bytes Noise(std::size_t n) {
  Bytes b(n);
  std::uint32_t x = 0x12345678u;
  for (auto& v : b) {
    x = x * 1664525u + 1013904223u;
    v = static_cast<std::uint8_t>(x >> 24);
  }
  return b;
}

// The Base64 text as the upload writes it into its form body; -1 when none was built.
std::int32_t encodeBase64(ByteSource& source, QString& out) {
  QString body;
  out.clear();
  if (!BuildEntryBody(source, body)) return -1;
  const std::string form = body.text();
  const std::size_t start = form.find("base64\n\n") + 8;
  const std::size_t n = static_cast<std::size_t>(body.length() - kFormFixedLength);
  if (!out.setBytes(form.data() + start, static_cast<std::int32_t>(n))) return -1;
  return static_cast<std::int32_t>(n);
}

std::int32_t encodeFileBase64(FileHandle file, QString& out) {
  FileSource source(file);
  return encodeBase64(source, out);
}

// Encodes the bytes as a file into a string that held a longer text before: only the new
// text may remain, in the block its length calls for.
std::string EncodeFile(const Bytes& bytes, std::int32_t* result = nullptr) {
  test::TempFolder folder;
  const std::string path = folder.Join("r710.replay");
  test::WriteAll(path, bytes);
  ScopedFile file(FileOpen(path.c_str(), kFileRead));
  EXPECT_TRUE(file.valid());
  QString out;
  EXPECT_TRUE(out.assign(std::string(600, 'z').c_str()));
  const std::int32_t n = encodeFileBase64(file.get(), out);
  EXPECT_EQ(n, out.length());
  EXPECT_EQ(out.capacity(), (n / 256 + 1) * 256);
  if (result != nullptr) *result = n;
  return out.text();
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

// A bare LF after every 64 characters and nowhere else; padding only at the very end.
void ExpectLineLayout(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    ASSERT_EQ(text[i] == '\n', (i + 1) % 65 == 0) << "at " << i;
  }
  EXPECT_NE(text.back(), '\n');
  EXPECT_GE(text.find('='), text.size() - 2);
}

TEST(Base64LengthTest, FollowsGroupsAndLineFeeds) {
  const std::int64_t cases[][2] = {
      {0, 0},     {1, 4},     {3, 4},  {48, 64},           {49, 69},
      {240, 324}, {241, 329}, {-1, 0}, {3097332, 4194303}, {3097333, 4194307}};
  for (const auto& c : cases) EXPECT_EQ(Base64TextLength(c[0]), c[1]) << c[0];
  EXPECT_EQ(Base64TextLength(INT64_MAX), INT64_MAX);
}

TEST(Base64Test, KnownFilesGiveTheStandardTextInLinesOf64) {
  const auto bytes = [](const char* s) { return Bytes(s, s + std::strlen(s)); };
  const std::string lines240 =
      "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v\n"
      "MDEyMzQ1Njc4OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5f\n"
      "YGFiY2RlZmdoaWprbG1ub3BxcnN0dXZ3eHl6e3x9fn+AgYKDhIWGh4iJiouMjY6P\n"
      "kJGSk5SVlpeYmZqbnJ2en6ChoqOkpaanqKmqq6ytrq+wsbKztLW2t7i5uru8vb6/\n"
      "wMHCw8TFxsfIycrLzM3Oz9DR0tPU1dbX2Nna29zd3t/g4eLj5OXm5+jp6uvs7e7v";
  const struct {
    Bytes file;
    std::string text;
  } cases[] = {
      {{}, ""},
      {bytes("f"), "Zg=="},
      {bytes("fo"), "Zm8="},
      {bytes("foo"), "Zm9v"},
      {bytes("foob"), "Zm9vYg=="},
      {bytes("foobar"), "Zm9vYmFy"},
      {Bytes{0xFF, 0xFE, 0x00}, "//4A"},
      {Bytes{0x00}, "AA=="},
      {Counting(48), "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v"},
      {Counting(49), "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v\nMA=="},
      {Counting(240), lines240},
      {Counting(241), lines240 + "\n8A=="},
  };
  for (const auto& c : cases) {
    std::int32_t n = -1;
    EXPECT_EQ(EncodeFile(c.file, &n), c.text) << c.file.size() << " bytes";
    EXPECT_EQ(n, static_cast<std::int32_t>(c.text.size()));
  }
}

TEST(Base64Test, FilesAcrossReadChunksAndAtTheEntryLimitDecodeBack) {
  const std::int64_t chunk = kBase64ChunkSize;
  for (const std::int64_t size :
       {chunk - 1, chunk, chunk + 1, chunk + 2, std::int64_t{3097332}, std::int64_t{3097333}}) {
    const Bytes original = Noise(static_cast<std::size_t>(size));
    std::int32_t n = -1;
    const std::string text = EncodeFile(original, &n);
    EXPECT_EQ(n, Base64TextLength(size)) << size;
    ExpectLineLayout(text);
    EXPECT_TRUE(Decode(text) == original) << size << " bytes";
  }
}

TEST(Base64Test, SourceThatFailsOrDisagreesWithItsSizeLeavesNoText) {
  const std::int64_t chunk = kBase64ChunkSize;
  const struct {
    std::int64_t announced, available;
    bool failAtEnd;
    std::int32_t result;
    int reads;
  } cases[] = {{3 * chunk, chunk, true, -1, 2},           // read failure in the middle
               {1000, 999, false, -1, 1},                 // shorter than announced
               {1000, 1001, false, -1, 2},                // longer than announced
               {std::int64_t{1} << 40, 0, false, -1, 0},  // beyond a string: refused before reading
               {1000, 1000, false, 1356, 2}};
  for (const auto& c : cases) {
    test::FakeReplay source(Bytes(static_cast<std::size_t>(c.available), 0x5A), c.announced,
                            c.failAtEnd);
    QString out;
    EXPECT_EQ(encodeBase64(source, out), c.result) << c.announced << "/" << c.available;
    EXPECT_EQ(source.reads, c.reads) << c.announced << "/" << c.available;
    EXPECT_EQ(out.capacity(), c.result < 0 ? 0 : 1536);
    EXPECT_EQ(out.length(), c.result < 0 ? 0 : c.result);
  }
}

TEST(Base64Test, FileThatCannotBeReadGivesNoText) {
  test::TempFolder folder;
  const std::string path = folder.Join("r711.replay");
  test::WriteAll(path, Counting(100));
  ScopedFile file(FileOpen(path.c_str(), kFileWrite));  // no read access
  ASSERT_TRUE(file.valid());
  QString out;
  EXPECT_EQ(encodeFileBase64(file.get(), out), -1);
  EXPECT_EQ(out.capacity(), 0);
}

}  // namespace
}  // namespace qlan
