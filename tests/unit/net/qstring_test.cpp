// The upload's byte string: content, terminator, and the block size that follows the length.
#include "net/qstring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace qlan {
namespace {

TEST(QStringTest, NewStringHandsOutEmptyTextWithoutBlock) {
  QString s;
  ASSERT_NE(s.text(), nullptr);
  EXPECT_STREQ(s.text(), "");
  EXPECT_EQ(s.length(), 0);
  EXPECT_EQ(s.capacity(), 0);
}

TEST(QStringTest, AssigningNullOrEmptyTextKeepsA256ByteBlock) {
  QString a;
  ASSERT_TRUE(a.assign(nullptr));
  EXPECT_STREQ(a.text(), "");
  EXPECT_EQ(a.capacity(), 256);
  QString b;
  ASSERT_TRUE(b.assign(""));
  EXPECT_STREQ(b.text(), "");
  EXPECT_EQ(b.capacity(), 256);
}

TEST(QStringTest, NegativeOrNullSetBytesGivesEmptyText) {
  QString s;
  ASSERT_TRUE(s.assign("abc"));
  ASSERT_TRUE(s.setBytes("xyz", -5));
  EXPECT_STREQ(s.text(), "");
  EXPECT_EQ(s.length(), 0);
  ASSERT_TRUE(s.assign("abc"));
  ASSERT_TRUE(s.setBytes(nullptr, 3));
  EXPECT_STREQ(s.text(), "");
  EXPECT_EQ(s.capacity(), 256);
}

TEST(QStringTest, AppendingNothingChangesNothingAndAllocatesNothing) {
  QString fresh;
  EXPECT_TRUE(fresh.appendBytes("abc", 0));
  EXPECT_TRUE(fresh.appendBytes("abc", -1));
  EXPECT_TRUE(fresh.appendBytes(nullptr, 3));
  EXPECT_TRUE(fresh.append(static_cast<const char*>(nullptr)));
  EXPECT_EQ(fresh.capacity(), 0);

  QString s;
  ASSERT_TRUE(s.assign("abc"));
  EXPECT_TRUE(s.appendBytes("def", 0));
  EXPECT_TRUE(s.appendBytes("def", -2));
  EXPECT_STREQ(s.text(), "abc");
  EXPECT_EQ(s.length(), 3);
}

TEST(QStringTest, BlockGrowsAtEveryMultipleOf256AndShrinksOnSet) {
  QString s;
  const std::string t255(255, 'a');
  ASSERT_TRUE(s.assign(t255.c_str()));
  EXPECT_EQ(s.capacity(), 256);
  EXPECT_EQ(s.length(), 255);
  ASSERT_TRUE(s.append("b"));
  EXPECT_EQ(s.capacity(), 512);
  EXPECT_EQ(s.length(), 256);
  EXPECT_EQ(std::string(s.text()), t255 + "b");
  ASSERT_TRUE(s.assign("0123456789"));
  EXPECT_EQ(s.capacity(), 256);
  EXPECT_STREQ(s.text(), "0123456789");

  // Exactly 256 characters already needs the larger block; 511 still fits in it.
  ASSERT_TRUE(s.assign(std::string(256, 'x').c_str()));
  EXPECT_EQ(s.capacity(), 512);
  ASSERT_TRUE(s.appendBytes(std::string(255, 'y').data(), 255));
  EXPECT_EQ(s.capacity(), 512);
  ASSERT_TRUE(s.append("z"));
  EXPECT_EQ(s.capacity(), 768);
  EXPECT_EQ(s.length(), 512);
}

TEST(QStringTest, LongAppendJumpsStraightToItsBlock) {
  QString s;
  ASSERT_TRUE(s.assign("ab"));
  const std::string big(1000, 'q');
  ASSERT_TRUE(s.appendBytes(big.data(), 1000));
  EXPECT_EQ(s.capacity(), 1024);
  EXPECT_EQ(s.length(), 1002);
  EXPECT_EQ(std::string(s.text()), "ab" + big);
}

TEST(QStringTest, ByteZeroEndsTheText) {
  QString s;
  ASSERT_TRUE(s.setBytes("ab\0cd", 5));
  EXPECT_STREQ(s.text(), "ab");
  EXPECT_EQ(s.length(), 2);
  ASSERT_TRUE(s.appendBytes("x\0y", 3));
  EXPECT_STREQ(s.text(), "abx");
  EXPECT_EQ(s.length(), 3);
}

TEST(QStringTest, AppendsAnotherStringsText) {
  QString a;
  QString b;
  ASSERT_TRUE(a.assign("head-"));
  ASSERT_TRUE(b.assign("tail"));
  ASSERT_TRUE(a.append(b));
  EXPECT_STREQ(a.text(), "head-tail");
  QString empty;
  ASSERT_TRUE(a.append(empty));
  EXPECT_STREQ(a.text(), "head-tail");
}

TEST(QStringTest, SourceInsideItsOwnBlockIsCopiedBeforeTheBlockMoves) {
  QString s;
  const std::string t200(200, 'r');
  ASSERT_TRUE(s.assign(t200.c_str()));
  ASSERT_TRUE(s.append(s));  // 400 characters: moves to a 512-byte block
  EXPECT_EQ(s.capacity(), 512);
  EXPECT_EQ(std::string(s.text()), t200 + t200);

  ASSERT_TRUE(s.assign("0123456789"));
  ASSERT_TRUE(s.setBytes(s.text() + 4, 3));  // same block, overlapping
  EXPECT_STREQ(s.text(), "456");
}

TEST(QStringTest, SpaceForTheCallerExtendsTheText) {
  QString s;
  ASSERT_TRUE(s.assign("ab"));
  char* p = s.appendSpace(300);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p, s.text() + 2);
  std::memset(p, 'k', 300);
  EXPECT_EQ(s.length(), 302);
  EXPECT_EQ(s.capacity(), 512);
  EXPECT_EQ(std::string(s.text()), "ab" + std::string(300, 'k'));
  EXPECT_EQ(s.appendSpace(-1), nullptr);
  EXPECT_EQ(s.length(), 302);
}

TEST(QStringTest, RefusesATextBeyondItsLimitAndStaysUnchanged) {
  QString s;
  ASSERT_TRUE(s.assign("abc"));
  EXPECT_FALSE(s.appendBytes("x", QString::kMaxLength));
  EXPECT_EQ(s.appendSpace(QString::kMaxLength), nullptr);
  EXPECT_STREQ(s.text(), "abc");
  EXPECT_EQ(s.capacity(), 256);
}

TEST(QStringTest, ClearReturnsToTheNewState) {
  QString s;
  ASSERT_TRUE(s.assign("abc"));
  s.clear();
  EXPECT_STREQ(s.text(), "");
  EXPECT_EQ(s.capacity(), 0);
  EXPECT_EQ(s.length(), 0);
}

}  // namespace
}  // namespace qlan
