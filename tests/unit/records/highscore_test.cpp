// The empty high-score table, its scrambled files, and their failure codes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/files.h"
#include "app/text.h"
#include "records/highscore.h"
#include "support/temp_env.h"

namespace qlan::test {
namespace {

Bytes EmptyTableFile() { return ReadAll(TestDataPath("highscore/empty-table.ee")); }

TEST(HighScoreFiles, EmptyTableWritesTheKnownBytesToBothFilesKeepingALongerFilesTail) {
  UserDataFixture user;
  MakeFolder(user.VendorPath());
  Bytes old(12000, 0x77);
  for (std::size_t i = 10888; i < old.size(); ++i) old[i] = static_cast<std::uint8_t>(i);
  WriteAll(user.VendorPath("qlanb.ee"), old);
  g_highScoreTable.fill(0xAB);
  ResetHighScoreTable();
  ASSERT_EQ(SaveHighScoreFiles(), 0);
  const Bytes expected = EmptyTableFile();
  ASSERT_EQ(expected.size(), 10888u);
  EXPECT_EQ(ReadAll(user.VendorPath("qlanc.ee")), expected);
  const Bytes now = ReadAll(user.VendorPath("qlanb.ee"));
  ASSERT_EQ(now.size(), 12000u);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), now.begin()));
  EXPECT_TRUE(std::equal(old.begin() + 10888, old.end(), now.begin() + 10888));
  const auto inMemory = ScrambleHighScoreTable(g_highScoreTable.data());
  EXPECT_EQ(Bytes(inMemory.begin(), inMemory.end()), expected);
}

TEST(HighScoreFiles, WriteProtectedSecondFileReportsItsCode) {
  // A locked first file, which stops the writing: the erase test.
  UserDataFixture user;
  MakeFolder(user.VendorPath());
  const Bytes old(200, 0x22);
  WriteAll(user.VendorPath("qlanc.ee"), old);
  SetReadOnly(user.VendorPath("qlanc.ee"), true);
  ResetHighScoreTable();
  EXPECT_EQ(SaveHighScoreFiles(), 5);
  EXPECT_EQ(ReadAll(user.VendorPath("qlanb.ee")), EmptyTableFile());
  EXPECT_EQ(ReadAll(user.VendorPath("qlanc.ee")), old);
  SetReadOnly(user.VendorPath("qlanc.ee"), false);
}

TEST(HighScoreFiles, UnusableFolderIsMinusOneAndAPathThatCannotFitIsMinus108) {
  {
    TempFolder root;
    WriteAll(root.Join("not-a-folder"), {'x'});
    ScopedEnv appData("APPDATA", root.Join("not-a-folder"));
    EXPECT_EQ(SaveHighScoreFiles(), -1);
    char path[kPathSize];
    EXPECT_EQ(GetHighScoreFilePath(path, sizeof path), -1);
  }
  UserDataFixture user;
  // The per-user folder itself still fits; the file name does not.
  EXPECT_EQ(SaveHighScoreFile(g_highScoreTable.data(), std::string(250, 'n').c_str()), -108);
  char path[kPathSize];
  ASSERT_EQ(GetHighScoreFilePath(path, sizeof path), 0);
  EXPECT_EQ(std::string(path), user.appData() + "\\velmorn\\qlanb.ee");
  std::vector<char> exact(std::strlen(path) + 1);
  EXPECT_EQ(GetHighScoreFilePath(exact.data(), exact.size()), 0);
  EXPECT_EQ(GetHighScoreFilePath(exact.data(), exact.size() - 1), -108);
}

TEST(Scrambling, ReverseBitsMirrorsAndEmptyOrOversizedBlocksWriteNothing) {
  for (const auto& [in, out] : {std::pair{0x01, 0x80}, {0x12, 0x48}, {0xA5, 0xA5}, {0xFE, 0x7F}}) {
    EXPECT_EQ(ReverseBits(static_cast<unsigned char>(in)), out) << in;
  }
  TempFolder dir;
  const std::string path = dir.Join("block.ee");
  ScopedFile file(FileOpen(path.c_str(), kFileWrite));
  ASSERT_TRUE(file.valid());
  std::vector<unsigned char> bytes(16385, 1);
  for (const auto& [given, result, left] :
       {std::tuple{0, 0, 0}, {16385, -50, 0}, {-3, 0, 0}, {16384, 0, 16384}}) {
    std::int32_t length = given;
    EXPECT_EQ(WriteScrambled(file.get(), bytes.data(), &length), result) << given;
    EXPECT_EQ(length, left) << given;
  }
  file.reset();
  EXPECT_EQ(ReadAll(path).size(), 16384u);
}

}  // namespace
}  // namespace qlan::test
