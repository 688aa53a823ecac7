// The per-user folder and its fallback, and the dialog's decimal reading. (The file layer's
// codes are held by the record tests and, on Windows, by the Windows-only tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/filesystem.h"
#include "app/paths.h"
#include "app/text.h"
#include "support/temp_env.h"

namespace qlan::test {
namespace {

TEST(UserDataPath, CreatesTheVendorFolderOrFailsWithoutTouchingTheOutput) {
  TempFolder root;
  char path[kPathSize];
  {
    ScopedEnv env("APPDATA", root.path());
    ASSERT_EQ(GetUserDataPath(kVendorFolder, kSettingsFileName, path), 0);
    EXPECT_EQ(std::string(path), root.path() + "\\velmorn\\qlan.ini");
    EXPECT_TRUE(Exists(root.Join("velmorn")));
    ASSERT_EQ(GetUserDataPath(kVendorFolder, "", path), 0);
    EXPECT_EQ(std::string(path), root.path() + "\\velmorn\\");
    EXPECT_EQ(GetUserDataPath(kVendorFolder, "x", nullptr), 0);
  }
  std::copy_n("untouched", 10, path);
  TempFolder blocked;  // a plain file where the vendor folder belongs
  WriteAll(blocked.Join("velmorn"), {1});
  for (const std::string& appData : {root.Join("missing"), blocked.path(), std::string(270, 'a')}) {
    ScopedEnv env("APPDATA", appData);
    EXPECT_EQ(GetUserDataPath(kVendorFolder, kSettingsFileName, path), -1) << appData;
    EXPECT_FALSE(Exists(root.Join("missing")));
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

TEST(ReadDecimal, ReadsLikeTheDialogAndSaturates) {
  EXPECT_EQ(ReadDecimal("\t -12x"), -12);
  EXPECT_EQ(ReadDecimal("abc"), 0);
  EXPECT_GT(ReadDecimal("99999999999999999999999999"), 2147483647LL);
}

}  // namespace
}  // namespace qlan::test
