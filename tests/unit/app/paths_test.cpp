// The per-user folder, its fallback and subfolders, the file layer's codes and the
// dialog's decimal reading.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/files.h"
#include "app/filesystem.h"
#include "app/paths.h"
#include "app/text.h"
#include "support/temp_env.h"

namespace qlan {
namespace {

using test::ScopedEnv;
using test::TempFolder;

TEST(UserDataPath, CreatesTheVendorFolderOrFailsWithoutTouchingTheOutput) {
  TempFolder root;
  char path[kPathSize];
  {
    ScopedEnv env("APPDATA", root.path());
    ASSERT_EQ(GetUserDataPath(kVendorFolder, kSettingsFileName, path), 0);
    EXPECT_EQ(std::string(path), root.path() + "\\velmorn\\qlan.ini");
    EXPECT_TRUE(test::Exists(root.Join("velmorn")));
    ASSERT_EQ(GetUserDataPath(kVendorFolder, "", path), 0);
    EXPECT_EQ(std::string(path), root.path() + "\\velmorn\\");
    EXPECT_EQ(GetUserDataPath(kVendorFolder, "x", nullptr), 0);
  }
  std::copy_n("untouched", 10, path);
  TempFolder blocked;  // a plain file where the vendor folder belongs
  test::WriteAll(blocked.Join("velmorn"), {1});
  for (const std::string& appData : {root.Join("missing"), blocked.path(), std::string(270, 'a')}) {
    ScopedEnv env("APPDATA", appData);
    EXPECT_EQ(GetUserDataPath(kVendorFolder, kSettingsFileName, path), -1) << appData;
    EXPECT_FALSE(test::Exists(root.Join("missing")));
  }
  ScopedEnv env("APPDATA", root.path());
  // A path that would not fit fails its step instead of overrunning.
  EXPECT_EQ(GetUserDataPath(kVendorFolder, std::string(300, 'n').c_str(), path), -1);
  EXPECT_STREQ(path, "untouched");
}

TEST(UserDataPath, FallsBackToTheWindowsFolderWhenAppDataIsUnsetOrEmpty) {
  // Natively the Windows folder is whatever WINDIR names; on Windows it is the real one.
  TempFolder standIn;
  ScopedEnv windir("WINDIR", standIn.path());
  std::string windows;
  ASSERT_TRUE(GetWindowsFolder(&windows));
  for (const bool unset : {true, false}) {
    ScopedEnv env("APPDATA", "", unset);
    char path[kPathSize];
    ASSERT_EQ(GetUserDataPath(kVendorFolder, kSettingsFileName, path), 0);
    EXPECT_EQ(std::string(path), windows + "\\Application Data\\velmorn\\qlan.ini");
  }
#ifndef _WIN32
  ScopedEnv noWindows("WINDIR", "", true);
  ScopedEnv env("APPDATA", "", true);
  EXPECT_EQ(GetUserDataPath(kVendorFolder, kSettingsFileName, nullptr), -1);
#endif
}

TEST(EnsureSubfolder, WritesIntoTheParentBufferAndRefusesAFile) {
  TempFolder root;
  char path[kPathSize];
  ASSERT_TRUE(CopyText(path, sizeof path, root.path()));
  ASSERT_EQ(EnsureSubfolder(path, "qlan_rep", path), 0);
  EXPECT_EQ(std::string(path), root.path() + "\\qlan_rep");
  test::WriteAll(root.Join("plain"), {1});
  EXPECT_EQ(EnsureSubfolder(root.path().c_str(), "plain", nullptr), -1);
  EXPECT_EQ(EnsureSubfolder(root.Join("none").c_str(), "deeper", nullptr), -1);
  EXPECT_EQ(EnsureSubfolder(root.path().c_str(), std::string(300, 'n').c_str(), path), -1);
}

TEST(FileLayer, CodesOfOpenReadWriteAndClose) {
  TempFolder dir;
  const std::string path = dir.Join("missing.bin");
  ScopedFile none(FileOpen(path.c_str(), kFileRead));
  EXPECT_FALSE(none.valid());
  EXPECT_EQ(FileError(), kErrorFileNotFound);
  ScopedFile inMissingFolder(FileOpen(dir.Join("no\\x.bin").c_str(), kFileRead));
  EXPECT_EQ(FileError(), kErrorPathNotFound);
  {
    ScopedFile created(FileOpen(path.c_str(), kFileWrite));
    EXPECT_EQ(FileError(), 0);
    const char bytes[100] = {};
    EXPECT_EQ(FileWrite(created.get(), 100, bytes), 100);
  }
  ScopedFile reader(FileOpen(path.c_str(), kFileRead));
  char buffer[144];
  EXPECT_EQ(FileRead(reader.get(), 144, buffer), 100);
  EXPECT_EQ(FileError(), 0);
  EXPECT_EQ(FileSize(reader.get()), 100);
  FileWrite(reader.get(), 1, buffer);
  EXPECT_EQ(FileError(), -1);
  reader.reset();
  EXPECT_EQ(FileError(), 0);
}

TEST(ReadDecimal, ReadsLikeTheDialogAndSaturates) {
  const std::pair<const char*, long long> cases[] = {
      {"  -12x", -12}, {"+80ab", 80}, {"abc", 0}, {"", 0}, {"\t 200 OK", 200}};
  for (const auto& [text, value] : cases) EXPECT_EQ(ReadDecimal(text), value) << text;
  EXPECT_GT(ReadDecimal("99999999999999999999999999"), 2147483647LL);
}

}  // namespace
}  // namespace qlan
