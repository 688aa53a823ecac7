// The empty high-score table, its scrambled files, and their failure codes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/files.h"
#include "app/text.h"
#include "records/highscore.h"
#include "support/temp_env.h"

namespace qlan {
namespace {

using test::ReadAll;
using test::TempFolder;
using test::TestDataPath;
using test::UserDataFixture;
using test::WriteAll;

std::vector<std::uint8_t> EmptyTableFile() { return ReadAll(TestDataPath("highscore/empty-table.ee")); }

TEST(HighScoreTableLayout, EmptyTableHasFortyBlocksWithTheirMarker) {
  g_highScoreTable.fill(0xAB);
  ResetHighScoreTable();
  std::size_t nonZero = 0;
  for (unsigned char b : g_highScoreTable) nonZero += b != 0 ? 1 : 0;
  EXPECT_EQ(nonZero, 40u * 4u);
  for (std::size_t k = 0; k < 40; ++k) {
    const std::size_t at = 4 + 272 * k + 8;
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(g_highScoreTable[at + i], 0xFF) << k;
  }
}

TEST(HighScoreFiles, EmptyTableWritesTheKnownBytesToBothFiles) {
  UserDataFixture user;
  ResetHighScoreTable();
  ASSERT_EQ(SaveHighScoreFiles(), 0);
  const auto expected = EmptyTableFile();
  ASSERT_EQ(expected.size(), 10888u);
  EXPECT_EQ(ReadAll(user.VendorPath("qlanb.ee")), expected);
  EXPECT_EQ(ReadAll(user.VendorPath("qlanc.ee")), expected);
}

TEST(HighScoreFiles, InMemoryFormMatchesTheFile) {
  ResetHighScoreTable();
  const auto bytes = ScrambleHighScoreTable(g_highScoreTable.data());
  const auto expected = EmptyTableFile();
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), expected);
}

TEST(Scrambling, ZeroByteScramblesToTheGeneratorKeyAlone) {
  // g = 0 * 1709 + 2917 = 0xB65 after the first step, so the key is 0x0B.
  std::vector<unsigned char> zeros(kHighScoreTableSize, 0);
  const auto bytes = ScrambleHighScoreTable(zeros.data());
  ASSERT_EQ(bytes.size(), 10888u);
  EXPECT_EQ(bytes[0], 0x0B);
  // Second step: g = 2917 * 1709 + 2917 = 0x4C1CA6, key 0x1C.
  EXPECT_EQ(bytes[1], 0x1C);
}

TEST(HighScoreFiles, LongerOldFileKeepsItsTail) {
  UserDataFixture user;
  test::MakeFolder(user.VendorPath());
  std::vector<std::uint8_t> old(12000, 0x77);
  for (std::size_t i = 10888; i < old.size(); ++i) old[i] = static_cast<std::uint8_t>(i);
  WriteAll(user.VendorPath("qlanb.ee"), old);
  ResetHighScoreTable();
  ASSERT_EQ(SaveHighScoreFiles(), 0);
  const auto now = ReadAll(user.VendorPath("qlanb.ee"));
  ASSERT_EQ(now.size(), 12000u);
  const auto expected = EmptyTableFile();
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), now.begin()));
  EXPECT_TRUE(std::equal(old.begin() + 10888, old.end(), now.begin() + 10888));
  EXPECT_EQ(ReadAll(user.VendorPath("qlanc.ee")), expected);
}

TEST(HighScoreFiles, WriteProtectedFirstFileStopsBeforeTheSecond) {
  UserDataFixture user;
  test::MakeFolder(user.VendorPath());
  const std::vector<std::uint8_t> oldB(100, 0x11);
  const std::vector<std::uint8_t> oldC(200, 0x22);
  WriteAll(user.VendorPath("qlanb.ee"), oldB);
  WriteAll(user.VendorPath("qlanc.ee"), oldC);
  test::SetReadOnly(user.VendorPath("qlanb.ee"), true);
  ResetHighScoreTable();
  EXPECT_EQ(SaveHighScoreFiles(), 5);
  EXPECT_EQ(ReadAll(user.VendorPath("qlanb.ee")), oldB);
  EXPECT_EQ(ReadAll(user.VendorPath("qlanc.ee")), oldC);
  test::SetReadOnly(user.VendorPath("qlanb.ee"), false);
}

TEST(HighScoreFiles, WriteProtectedSecondFileReportsItsCode) {
  UserDataFixture user;
  test::MakeFolder(user.VendorPath());
  const std::vector<std::uint8_t> oldC(200, 0x22);
  WriteAll(user.VendorPath("qlanc.ee"), oldC);
  test::SetReadOnly(user.VendorPath("qlanc.ee"), true);
  ResetHighScoreTable();
  EXPECT_EQ(SaveHighScoreFiles(), 5);
  EXPECT_EQ(ReadAll(user.VendorPath("qlanb.ee")), EmptyTableFile());
  EXPECT_EQ(ReadAll(user.VendorPath("qlanc.ee")), oldC);
  test::SetReadOnly(user.VendorPath("qlanc.ee"), false);
}

TEST(HighScoreFiles, UnusableUserFolderIsMinusOne) {
  TempFolder root;
  WriteAll(root.Join("not-a-folder"), {'x'});
  test::ScopedEnv appData("APPDATA", root.Join("not-a-folder"));
  ResetHighScoreTable();
  EXPECT_EQ(SaveHighScoreFiles(), -1);
  char path[kPathSize];
  EXPECT_EQ(GetHighScoreFilePath(path, sizeof path), -1);
}

TEST(HighScoreFiles, PathThatCannotFitIsMinus108) {
  UserDataFixture user;
  // The per-user folder itself still fits; the file name does not.
  const std::string longName(250, 'n');
  EXPECT_EQ(SaveHighScoreFile(g_highScoreTable.data(), longName.c_str()), -108);
}

TEST(HighScoreFilePath, NamesQlanbInTheUserFolder) {
  UserDataFixture user;
  char path[kPathSize];
  ASSERT_EQ(GetHighScoreFilePath(path, sizeof path), 0);
  EXPECT_EQ(std::string(path), user.appData() + "\\velmorn\\qlanb.ee");
  const std::size_t length = std::strlen(path);
  std::vector<char> exact(length + 1);
  EXPECT_EQ(GetHighScoreFilePath(exact.data(), exact.size()), 0);
  std::vector<char> small(length);
  EXPECT_EQ(GetHighScoreFilePath(small.data(), small.size()), -108);
}

TEST(Scrambling, ReverseBitsMirrorsTheByte) {
  EXPECT_EQ(ReverseBits(0x01), 0x80);
  EXPECT_EQ(ReverseBits(0x0F), 0xF0);
  EXPECT_EQ(ReverseBits(0xA5), 0xA5);
  EXPECT_EQ(ReverseBits(0x00), 0x00);
  EXPECT_EQ(ReverseBits(0x12), 0x48);
  EXPECT_EQ(ReverseBits(0xFE), 0x7F);
}

TEST(Scrambling, EmptyOrOversizedBlocksWriteNothing) {
  TempFolder dir;
  const std::string path = dir.Join("block.ee");
  ScopedFile file(FileOpen(path.c_str(), kFileWrite));
  ASSERT_TRUE(file.valid());
  std::vector<unsigned char> bytes(16385, 1);
  std::int32_t length = 0;
  EXPECT_EQ(WriteScrambled(file.get(), bytes.data(), &length), 0);
  EXPECT_EQ(length, 0);
  length = 16385;
  EXPECT_EQ(WriteScrambled(file.get(), bytes.data(), &length), -50);
  EXPECT_EQ(length, 0);
  length = -3;
  EXPECT_EQ(WriteScrambled(file.get(), bytes.data(), &length), 0);
  EXPECT_EQ(length, 0);
  length = 16384;
  EXPECT_EQ(WriteScrambled(file.get(), bytes.data(), &length), 0);
  EXPECT_EQ(length, 16384);
  file.reset();
  EXPECT_EQ(ReadAll(path).size(), 16384u);
}

}  // namespace
}  // namespace qlan
