// Base64 text of files: known answers, the 64-character line layout, the limit sizes
// decoded back, and failed or changing reads.
#include "net/base64.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/temp_env.h"

namespace qlan {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Counting(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i);
  return b;
}

Bytes Noise(std::size_t n) {
  Bytes b(n);
  std::uint32_t x = 0x12345678u;
  for (auto& v : b) {
    x = x * 1664525u + 1013904223u;
    v = static_cast<std::uint8_t>(x >> 24);
  }
  return b;
}

struct Encoded {
  std::int32_t result;
  std::string text;
  std::int32_t capacity;
};

Encoded EncodeFile(const Bytes& bytes) {
  test::TempFolder folder;
  const std::string path = folder.Join("r710.replay");
  test::WriteAll(path, bytes);
  const FileHandle file = FileOpen(path.c_str(), kFileRead);
  EXPECT_NE(file, kInvalidFile);
  ScopedFile closer(file);
  QString out;
  const std::int32_t n = encodeFileBase64(file, out);
  return Encoded{n, std::string(out.text()), out.capacity()};
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
    if (v == std::string::npos) {
      ADD_FAILURE() << "not in the alphabet: " << static_cast<int>(c);
      return {};
    }
    acc = (acc << 6) | static_cast<std::uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<std::uint8_t>(acc >> bits));
    }
  }
  return out;
}

// Lines of exactly 64 characters joined by one LF, the last 4 to 64; pads only at the end.
void ExpectLineLayout(const std::string& text) {
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.find('\r'), std::string::npos);
  std::size_t start = 0;
  for (;;) {
    const std::size_t lf = text.find('\n', start);
    if (lf == std::string::npos) {
      const std::size_t last = text.size() - start;
      EXPECT_GE(last, 4u);
      EXPECT_LE(last, 64u);
      EXPECT_EQ(last % 4, 0u);
      break;
    }
    ASSERT_EQ(lf - start, 64u) << "line at " << start;
    start = lf + 1;
  }
  const std::size_t pad = text.find('=');
  if (pad != std::string::npos) {
    EXPECT_GE(pad, text.size() - 2);
  }
}

TEST(Base64LengthTest, FollowsGroupsAndLineFeeds) {
  EXPECT_EQ(Base64TextLength(0), 0);
  EXPECT_EQ(Base64TextLength(1), 4);
  EXPECT_EQ(Base64TextLength(3), 4);
  EXPECT_EQ(Base64TextLength(48), 64);
  EXPECT_EQ(Base64TextLength(49), 69);
  EXPECT_EQ(Base64TextLength(240), 324);
  EXPECT_EQ(Base64TextLength(241), 329);
  EXPECT_EQ(Base64TextLength(3097332), 4194303);
  EXPECT_EQ(Base64TextLength(3097333), 4194307);
  EXPECT_EQ(Base64TextLength(-1), 0);
  EXPECT_EQ(Base64TextLength(INT64_MAX), INT64_MAX);
}

TEST(Base64Test, AlphabetIsTheStandardOne) {
  EXPECT_STREQ(kBase64Alphabet, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
}

TEST(Base64Test, EmptyFileGivesEmptyText) {
  const Encoded e = EncodeFile({});
  EXPECT_EQ(e.result, 0);
  EXPECT_EQ(e.text, "");
}

TEST(Base64Test, ShortFilesMatchTheStandardVectors) {
  const auto bytes = [](const char* s) { return Bytes(s, s + std::char_traits<char>::length(s)); };
  EXPECT_EQ(EncodeFile(bytes("f")).text, "Zg==");
  EXPECT_EQ(EncodeFile(bytes("fo")).text, "Zm8=");
  EXPECT_EQ(EncodeFile(bytes("foo")).text, "Zm9v");
  EXPECT_EQ(EncodeFile(bytes("foob")).text, "Zm9vYg==");
  EXPECT_EQ(EncodeFile(bytes("foobar")).text, "Zm9vYmFy");
  EXPECT_EQ(EncodeFile(Bytes{0xFF, 0xFE, 0x00}).text, "//4A");
  const Encoded one = EncodeFile(Bytes{0x00});
  EXPECT_EQ(one.result, 4);
  EXPECT_EQ(one.text, "AA==");
  EXPECT_EQ(EncodeFile(Bytes{0x00, 0x10}).result, 4);
}

TEST(Base64Test, FortyEightBytesFillOneLineWithoutLineFeed) {
  const Encoded e = EncodeFile(Counting(48));
  EXPECT_EQ(e.result, 64);
  EXPECT_EQ(e.text, "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v");
}

TEST(Base64Test, FortyNineBytesStartASecondLine) {
  const Encoded e = EncodeFile(Counting(49));
  EXPECT_EQ(e.result, 69);
  EXPECT_EQ(e.text, "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v\nMA==");
}

TEST(Base64Test, TwoHundredFortyBytesMakeFiveLines) {
  const Encoded e = EncodeFile(Counting(240));
  EXPECT_EQ(e.result, 324);
  EXPECT_EQ(e.text,
            "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v\n"
            "MDEyMzQ1Njc4OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5f\n"
            "YGFiY2RlZmdoaWprbG1ub3BxcnN0dXZ3eHl6e3x9fn+AgYKDhIWGh4iJiouMjY6P\n"
            "kJGSk5SVlpeYmZqbnJ2en6ChoqOkpaanqKmqq6ytrq+wsbKztLW2t7i5uru8vb6/\n"
            "wMHCw8TFxsfIycrLzM3Oz9DR0tPU1dbX2Nna29zd3t/g4eLj5OXm5+jp6uvs7e7v");
}

TEST(Base64Test, TwoHundredFortyOneBytesAddAShortLastLine) {
  const Encoded e = EncodeFile(Counting(241));
  EXPECT_EQ(e.result, 329);
  EXPECT_EQ(e.text,
            "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v\n"
            "MDEyMzQ1Njc4OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5f\n"
            "YGFiY2RlZmdoaWprbG1ub3BxcnN0dXZ3eHl6e3x9fn+AgYKDhIWGh4iJiouMjY6P\n"
            "kJGSk5SVlpeYmZqbnJ2en6ChoqOkpaanqKmqq6ytrq+wsbKztLW2t7i5uru8vb6/\n"
            "wMHCw8TFxsfIycrLzM3Oz9DR0tPU1dbX2Nna29zd3t/g4eLj5OXm5+jp6uvs7e7v\n"
            "8A==");
}

TEST(Base64Test, FilesAcrossReadChunksDecodeBackWhole) {
  for (const std::size_t n : {std::size_t{kBase64ChunkSize} - 1, std::size_t{kBase64ChunkSize},
                              std::size_t{kBase64ChunkSize} + 1, std::size_t{kBase64ChunkSize} + 2}) {
    const Bytes original = Noise(n);
    const Encoded e = EncodeFile(original);
    EXPECT_EQ(e.result, Base64TextLength(static_cast<std::int64_t>(n)));
    EXPECT_EQ(static_cast<std::size_t>(e.result), e.text.size());
    ExpectLineLayout(e.text);
    EXPECT_EQ(Decode(e.text), original) << n << " bytes";
  }
}

TEST(Base64Test, LargestEntryFileAndOneByteMoreDecodeBack) {
  for (const std::size_t n : {std::size_t{3097332}, std::size_t{3097333}}) {
    const Bytes original = Noise(n);
    const Encoded e = EncodeFile(original);
    EXPECT_EQ(e.result, n == 3097332 ? 4194303 : 4194307);
    EXPECT_EQ(static_cast<std::size_t>(e.result), e.text.size());
    // The block follows the length rule: the smallest multiple of 256 above it.
    EXPECT_EQ(e.capacity, (e.result / 256 + 1) * 256);
    ExpectLineLayout(e.text);
    EXPECT_EQ(Decode(e.text), original) << n << " bytes";
  }
}

// A source that delivers its bytes, then fails or ends early.
class ScriptedSource : public ByteSource {
 public:
  ScriptedSource(std::int64_t announced, std::int64_t available, bool failAtEnd)
      : announced_(announced), available_(available), failAtEnd_(failAtEnd) {}
  std::int64_t size() noexcept override { return announced_; }
  std::int32_t read(void* buffer, std::int32_t count) noexcept override {
    const std::int64_t left = available_ - delivered_;
    if (left <= 0 && failAtEnd_) return -1;
    const auto n = static_cast<std::int32_t>(left < count ? left : count);
    std::memset(buffer, 0x5A, static_cast<std::size_t>(n));
    delivered_ += n;
    ++reads_;
    return n;
  }
  int reads_ = 0;

 private:
  std::int64_t announced_;
  std::int64_t available_;
  bool failAtEnd_;
  std::int64_t delivered_ = 0;
};

TEST(Base64Test, ReadFailureInTheMiddleFailsAndLeavesNoText) {
  ScriptedSource source(3 * std::int64_t{kBase64ChunkSize}, kBase64ChunkSize, true);
  QString out;
  EXPECT_EQ(encodeBase64(source, out), -1);
  EXPECT_EQ(source.reads_, 1);
  EXPECT_STREQ(out.text(), "");
}

TEST(Base64Test, SourceShorterOrLongerThanAnnouncedFails) {
  ScriptedSource shorter(1000, 999, false);
  QString out;
  EXPECT_EQ(encodeBase64(shorter, out), -1);
  EXPECT_STREQ(out.text(), "");
  ScriptedSource longer(1000, 1001, false);
  EXPECT_EQ(encodeBase64(longer, out), -1);
  EXPECT_STREQ(out.text(), "");
  ScriptedSource exact(1000, 1000, false);
  EXPECT_EQ(encodeBase64(exact, out), Base64TextLength(1000));
}

TEST(Base64Test, TextBeyondWhatAStringHoldsFailsBeforeReading) {
  ScriptedSource huge(std::int64_t{1} << 40, 0, false);
  QString out;
  EXPECT_EQ(encodeBase64(huge, out), -1);
  EXPECT_EQ(huge.reads_, 0);
  EXPECT_EQ(out.capacity(), 0);
}

TEST(Base64Test, FileOpenedWithoutReadAccessFails) {
  test::TempFolder folder;
  const std::string path = folder.Join("r711.replay");
  test::WriteAll(path, Counting(100));
  const FileHandle file = FileOpen(path.c_str(), kFileWrite);
  ASSERT_NE(file, kInvalidFile);
  ScopedFile closer(file);
  QString out;
  EXPECT_EQ(encodeFileBase64(file, out), -1);
  EXPECT_STREQ(out.text(), "");
}

TEST(Base64Test, ReusedStringHoldsOnlyTheNewText) {
  test::TempFolder folder;
  const std::string path = folder.Join("r712.replay");
  test::WriteAll(path, Bytes{'f', 'o', 'o'});
  QString out;
  ASSERT_TRUE(out.assign(std::string(600, 'z').c_str()));
  ScopedFile file(FileOpen(path.c_str(), kFileRead));
  ASSERT_TRUE(file.valid());
  EXPECT_EQ(encodeFileBase64(file.get(), out), 4);
  EXPECT_STREQ(out.text(), "Zm9v");
  EXPECT_EQ(out.capacity(), 256);
}

}  // namespace
}  // namespace qlan
