// The file layer's Windows codes: sharing conflicts, read-only files, folder creation and
// the atomic settings save.
#include <gtest/gtest.h>
#include <windows.h>

#include "app/files.h"
#include "app/paths.h"
#include "app/settings.h"
#include "app/text.h"
#include "support/temp_env.h"

namespace qlan {
namespace {

using test::ReadAll;
using test::TempFolder;
using test::WriteAll;

TEST(WinFiles, SharingAllowsReadersButNoSecondWriter) {
  TempFolder dir;
  const std::string path = dir.Join("shared.bin");
  WriteAll(path, {1, 2, 3});
  ScopedFile reader(FileOpen(path.c_str(), kFileRead));
  ASSERT_EQ(FileError(), 0);
  ScopedFile second(FileOpen(path.c_str(), kFileRead));
  EXPECT_EQ(FileError(), 0);
  ScopedFile writer(FileOpen(path.c_str(), kFileWrite));
  EXPECT_EQ(FileError(), kErrorSharingViolation);
  reader.reset();
  second.reset();
  ScopedFile firstWriter(FileOpen(path.c_str(), kFileWrite));
  ASSERT_EQ(FileError(), 0);
  ScopedFile anyOther(FileOpen(path.c_str(), kFileRead));
  EXPECT_EQ(FileError(), kErrorSharingViolation);
}

TEST(WinFiles, ReadOnlyFileIsNeverOpenedForWriting) {
  TempFolder dir;
  const std::string path = dir.Join("locked.bin");
  WriteAll(path, {9, 9});
  test::SetReadOnly(path, true);
  ScopedFile w(FileOpen(path.c_str(), kFileWrite));
  EXPECT_EQ(FileError(), kErrorAccessDenied);
  ScopedFile t(FileOpen(path.c_str(), kFileWrite | kFileTruncate));
  EXPECT_EQ(FileError(), kErrorAccessDenied);
  ScopedFile r(FileOpen(path.c_str(), kFileRead));
  EXPECT_EQ(FileError(), 0);
  r.reset();
  EXPECT_EQ(ReadAll(path), (std::vector<std::uint8_t>{9, 9}));
}

TEST(WinFiles, MissingFilesAndFolders) {
  TempFolder dir;
  ScopedFile a(FileOpen(dir.Join("none.bin").c_str(), kFileRead));
  EXPECT_EQ(FileError(), kErrorFileNotFound);
  ScopedFile b(FileOpen(dir.Join("no\\such.bin").c_str(), kFileRead));
  EXPECT_EQ(FileError(), kErrorPathNotFound);
  ScopedFile c(FileOpen(dir.Join("new.bin").c_str(), kFileWrite));
  EXPECT_EQ(FileError(), 0);
}

TEST(WinFiles, WriteKeepsTailUnlessTruncated) {
  TempFolder dir;
  const std::string path = dir.Join("tail.bin");
  WriteAll(path, std::vector<std::uint8_t>(20, 0xAA));
  const std::vector<std::uint8_t> block(10, 0x11);
  {
    ScopedFile f(FileOpen(path.c_str(), kFileWrite));
    EXPECT_EQ(FileWrite(f.get(), 10, block.data()), 10);
  }
  auto bytes = ReadAll(path);
  ASSERT_EQ(bytes.size(), 20u);
  EXPECT_EQ(bytes[9], 0x11);
  EXPECT_EQ(bytes[10], 0xAA);
  {
    ScopedFile f(FileOpen(path.c_str(), kFileWrite | kFileTruncate));
    EXPECT_EQ(FileWrite(f.get(), 10, block.data()), 10);
  }
  EXPECT_EQ(ReadAll(path).size(), 10u);
}

TEST(WinFiles, VendorFolderIsCreatedOnceAndAPlainFileBlocksIt) {
  test::UserDataFixture user;
  char path[kPathSize] = {};
  ASSERT_EQ(GetUserDataPath(kVendorFolder, kSettingsFileName, path), 0);
  EXPECT_EQ(std::string(path), user.VendorPath("qlan.ini"));
  ASSERT_EQ(GetUserDataPath(kVendorFolder, "", path), 0);
  EXPECT_EQ(std::string(path), user.VendorPath() + "\\");

  TempFolder other;
  test::ScopedEnv env("APPDATA", other.path());
  WriteAll(other.Join("velmorn"), {0});
  EXPECT_EQ(GetUserDataPath(kVendorFolder, kSettingsFileName, path), -1);
}

TEST(WinFiles, SaveReplacesInOneStepAndRefusesReadOnly) {
  TempFolder dir;
  const std::string path = dir.Join("qlan.ini");
  Settings s{};
  ResetSettings(s);
  s.flags = 0x33;
  ASSERT_EQ(SaveSettings(path.c_str(), s), 0);
  EXPECT_EQ(ReadAll(path)[11], 0x33);
  EXPECT_FALSE(test::Exists(path + ".new"));

  const auto before = ReadAll(path);
  test::SetReadOnly(path, true);
  s.flags = 0x01;
  EXPECT_EQ(SaveSettings(path.c_str(), s), kErrorAccessDenied);
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_FALSE(test::Exists(path + ".new"));

  // A reader holding the file without delete sharing makes the replacement fail.
  test::SetReadOnly(path, false);
  ScopedFile holder(FileOpen(path.c_str(), kFileRead));
  EXPECT_NE(SaveSettings(path.c_str(), s), 0);
  holder.reset();
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_FALSE(test::Exists(path + ".new"));
}

}  // namespace
}  // namespace qlan
