// The upload's byte string: content, terminator, and the block size that follows the length.
#include "net/qstring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace qlan::test {
namespace {

void ExpectText(const QString& s, const std::string& text, std::int32_t capacity) {
  ASSERT_NE(s.text(), nullptr);
  EXPECT_EQ(std::string(s.text()), text);
  EXPECT_EQ(s.length(), static_cast<std::int32_t>(text.size()));
  EXPECT_EQ(s.capacity(), capacity);
}

TEST(QStringTest, NothingAllocatesNothingUntilSetThenA256ByteBlock) {
  QString s;
  ExpectText(s, "", 0);
  EXPECT_TRUE(s.appendBytes("def", 0) && s.appendBytes("def", -1) && s.appendBytes(nullptr, 3) &&
              s.append(static_cast<const char*>(nullptr)));
  ExpectText(s, "", 0);
  ASSERT_TRUE(s.assign(nullptr));
  ExpectText(s, "", 256);
  ASSERT_TRUE(s.assign("abc"));
  EXPECT_TRUE(s.appendBytes("def", 0) && s.appendBytes("def", -1));
  ExpectText(s, "abc", 256);
  ASSERT_TRUE(s.setBytes("xyz", -5));
  ExpectText(s, "", 256);
  // Byte zero ends the text.
  ASSERT_TRUE(s.setBytes("ab\0cd", 5) && s.appendBytes("x\0y", 3));
  ExpectText(s, "abx", 256);
  s.clear();
  ExpectText(s, "", 0);
}

TEST(QStringTest, BlockFollowsTheLengthUpAndDown) {
  QString s;
  const std::string t255(255, 'a');
  ASSERT_TRUE(s.assign(t255.c_str()));
  ExpectText(s, t255, 256);
  ASSERT_TRUE(s.append("b"));  // 256 characters need the next block
  ExpectText(s, t255 + "b", 512);
  ASSERT_TRUE(s.assign("0123456789"));
  ExpectText(s, "0123456789", 256);
  ASSERT_TRUE(s.appendBytes(std::string(501, 'y').data(), 501));  // 511 still fits
  ExpectText(s, "0123456789" + std::string(501, 'y'), 512);
  ASSERT_TRUE(s.append("z"));
  EXPECT_EQ(s.capacity(), 768);
  ASSERT_TRUE(s.assign("ab"));
  ASSERT_TRUE(s.appendBytes(std::string(1000, 'q').data(), 1000));  // straight to its block
  ExpectText(s, "ab" + std::string(1000, 'q'), 1024);
}

TEST(QStringTest, AppendsStringsIncludingItselfAndSpaceWithinTheLimit) {
  QString a;
  QString b;
  QString empty;
  ASSERT_TRUE(a.assign("head-") && b.assign("tail") && a.append(b) && a.append(empty));
  ExpectText(a, "head-tail", 256);
  // A source inside the string's own block is copied before the block moves or overlaps.
  const std::string t200(200, 'r');
  ASSERT_TRUE(a.assign(t200.c_str()) && a.append(a));
  ExpectText(a, t200 + t200, 512);
  ASSERT_TRUE(a.assign("0123456789") && a.setBytes(a.text() + 4, 3));
  ExpectText(a, "456", 256);

  ASSERT_TRUE(a.assign("ab"));
  char* p = a.appendSpace(300);
  ASSERT_EQ(p, a.text() + 2);
  std::memset(p, 'k', 300);
  ExpectText(a, "ab" + std::string(300, 'k'), 512);
  ASSERT_TRUE(a.assign("abc"));
  EXPECT_EQ(a.appendSpace(-1), nullptr);
  EXPECT_EQ(a.appendSpace(QString::kMaxLength), nullptr);
  EXPECT_FALSE(a.appendBytes("x", QString::kMaxLength));
  ExpectText(a, "abc", 256);
}

}  // namespace
}  // namespace qlan::test
