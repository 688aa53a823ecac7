// The settings record against the known-answer files and the file's failure codes.
#include <gtest/gtest.h>

#include <cstring>

#include "app/paths.h"
#include "app/settings.h"
#include "support/temp_env.h"

namespace qlan {
namespace {

using test::ReadAll;
using test::TempFolder;
using test::TestDataPath;
using test::WriteAll;

std::vector<std::uint8_t> Bytes(const Settings& s) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&s);
  return {p, p + sizeof s};
}

TEST(Settings, DefaultsSaveAsTheKnownBytes) {
  TempFolder dir;
  Settings s{};
  ResetSettings(s);
  ASSERT_EQ(SaveSettings(dir.Join("qlan.ini").c_str(), s), 0);
  EXPECT_EQ(ReadAll(dir.Join("qlan.ini")), ReadAll(TestDataPath("settings/defaults.ini")));
}

TEST(Settings, FlagsPortAndAddressRoundTrip) {
  const std::string known = TestDataPath("settings/window640-proxy-swap-port8080.ini");
  Settings s{};
  ASSERT_EQ(LoadSettings(known.c_str(), s), 0);
  EXPECT_EQ(s.flags, 0x33u);
  EXPECT_EQ(s.proxyPort, 8080);
  EXPECT_STREQ(s.proxyAddress, "proxy.example.net");
  TempFolder dir;
  ASSERT_EQ(SaveSettings(dir.Join("qlan.ini").c_str(), s), 0);
  EXPECT_EQ(ReadAll(dir.Join("qlan.ini")), ReadAll(known));
}

TEST(Settings, BodyLengthAndHighBitsAreKept) {
  const std::string known = TestDataPath("settings/body-length-99-high-bits.ini");
  Settings s{};
  ASSERT_EQ(LoadSettings(known.c_str(), s), 0);
  EXPECT_EQ(s.bodyLength, 99u);
  EXPECT_EQ(s.flags, 0xABCD0004u);
  EXPECT_EQ(s.proxyPort, -5);
  TempFolder dir;
  ASSERT_EQ(SaveSettings(dir.Join("qlan.ini").c_str(), s), 0);
  EXPECT_EQ(ReadAll(dir.Join("qlan.ini")), ReadAll(known));
}

TEST(Settings, ShortLongAndForeignFiles) {
  TempFolder dir;
  const std::string path = dir.Join("qlan.ini");
  Settings defaults{};
  ResetSettings(defaults);
  auto good = ReadAll(TestDataPath("settings/window640-proxy-swap-port8080.ini"));

  Settings s{};
  WriteAll(path, std::vector<std::uint8_t>(good.begin(), good.begin() + 143));
  EXPECT_EQ(LoadSettings(path.c_str(), s), kShortSettingsFile);
  EXPECT_EQ(Bytes(s), Bytes(defaults));

  auto longer = good;
  longer.resize(200, 0xEE);
  WriteAll(path, longer);
  EXPECT_EQ(LoadSettings(path.c_str(), s), 0);
  EXPECT_EQ(s.flags, 0x33u);

  good[0] = 'q';
  WriteAll(path, good);
  EXPECT_EQ(LoadSettings(path.c_str(), s), -1);
  EXPECT_EQ(Bytes(s), Bytes(defaults));
  // The failed load closed the file, so it can be replaced at once.
  EXPECT_EQ(SaveSettings(path.c_str(), s), 0);

  EXPECT_EQ(LoadSettings(dir.Join("missing.ini").c_str(), s), 2);
}

TEST(Settings, FailedSaveLeavesTheOldFileAndNoTemporary) {
  TempFolder dir;
  const std::string path = dir.Join("qlan.ini");
  const auto old = ReadAll(TestDataPath("settings/window640-proxy-swap-port8080.ini"));
  WriteAll(path, old);
  test::SetReadOnly(path, true);
  Settings s{};
  ResetSettings(s);
  EXPECT_EQ(SaveSettings(path.c_str(), s), 5);
  EXPECT_EQ(ReadAll(path), old);
  EXPECT_FALSE(test::Exists(path + ".new"));

  // A folder where the temporary file should go makes the write fail too.
  test::SetReadOnly(path, false);
  test::MakeFolder(path + ".new");
  EXPECT_NE(SaveSettings(path.c_str(), s), 0);
  EXPECT_EQ(ReadAll(path), old);
}

TEST(Settings, PathWithNoRoomForTheTemporaryNameFailsTheSave) {
  Settings s{};
  ResetSettings(s);
  EXPECT_EQ(SaveSettings(std::string(257, 'a').c_str(), s), -1);
}

TEST(Settings, UnterminatedAddressIsCutAt127Bytes) {
  Settings s{};
  ResetSettings(s);
  std::memset(s.proxyAddress, 'a', sizeof s.proxyAddress);
  char shown[128];
  EXPECT_EQ(std::strlen(ProxyAddressText(s, shown)), 127u);
}

}  // namespace
}  // namespace qlan
