// The settings record against the known-answer files and the file's failure codes.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "app/paths.h"
#include "app/settings.h"
#include "support/temp_env.h"

namespace qlan::test {
namespace {

Bytes RecordBytes(const Settings& s) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&s);
  return {p, p + sizeof s};
}

TEST(Settings, KnownFilesLoadTheirFieldsAndSaveBackByteForByte) {
  const struct {
    const char* file;
    std::uint32_t bodyLength, flags;
    std::int32_t port;
    const char* address;
  } rows[] = {{"defaults.ini", 136, 0, 0, ""},
              {"window640-proxy-swap-port8080.ini", 136, 0x33, 8080, "proxy.example.net"},
              {"body-length-99-high-bits.ini", 99, 0xABCD0004u, -5, "10.0.0.1"}};
  for (const auto& row : rows) {
    const std::string known = TestDataPath(std::string("settings/") + row.file);
    Settings s{};
    ASSERT_EQ(LoadSettings(known.c_str(), s), 0) << row.file;
    EXPECT_EQ(std::tuple(s.bodyLength, s.flags, s.proxyPort),
              std::tuple(row.bodyLength, row.flags, row.port));
    EXPECT_STREQ(s.proxyAddress, row.address);
    TempFolder dir;
    ASSERT_EQ(SaveSettings(dir.Join("qlan.ini").c_str(), s), 0);
    EXPECT_EQ(ReadAll(dir.Join("qlan.ini")), ReadAll(known)) << row.file;
  }
  Settings s{};
  ResetSettings(s);
  TempFolder dir;
  ASSERT_EQ(SaveSettings(dir.Join("qlan.ini").c_str(), s), 0);
  EXPECT_EQ(ReadAll(dir.Join("qlan.ini")), ReadAll(TestDataPath("settings/defaults.ini")));
}

TEST(Settings, ShortLongForeignMissingAndUnwritableFiles) {
  TempFolder dir;
  const std::string path = dir.Join("qlan.ini");
  Settings defaults{};
  ResetSettings(defaults);
  const auto old = ReadAll(TestDataPath("settings/window640-proxy-swap-port8080.ini"));
  auto good = old;
  Settings s{};
  WriteAll(path, Bytes(good.begin(), good.begin() + 143));
  EXPECT_EQ(LoadSettings(path.c_str(), s), kShortSettingsFile);
  EXPECT_EQ(RecordBytes(s), RecordBytes(defaults));
  good.resize(200, 0xEE);
  WriteAll(path, good);
  EXPECT_EQ(LoadSettings(path.c_str(), s), 0);
  EXPECT_EQ(s.flags, 0x33u);
  good[0] = 'q';
  WriteAll(path, good);
  EXPECT_EQ(LoadSettings(path.c_str(), s), -1);
  EXPECT_EQ(RecordBytes(s), RecordBytes(defaults));
  // The failed load closed the file, so it can be replaced at once.
  EXPECT_EQ(SaveSettings(path.c_str(), s), 0);
  EXPECT_EQ(LoadSettings(dir.Join("missing.ini").c_str(), s), 2);

  WriteAll(path, old);
  SetReadOnly(path, true);
  EXPECT_EQ(SaveSettings(path.c_str(), s), 5);
  EXPECT_FALSE(Exists(path + ".new"));
  // A folder where the temporary file should go makes the write fail too.
  SetReadOnly(path, false);
  MakeFolder(path + ".new");
  EXPECT_NE(SaveSettings(path.c_str(), s), 0);
  EXPECT_EQ(ReadAll(path), old);
  // A replace that fails (a folder by the file's name) takes the temporary file away.
  const std::string folder = dir.Join("folder.ini");
  MakeFolder(folder);
  EXPECT_NE(SaveSettings(folder.c_str(), s), 0);
  EXPECT_FALSE(Exists(folder + ".new"));
  // A path with no room for the temporary name.
  EXPECT_EQ(SaveSettings(std::string(257, 'a').c_str(), s), -1);
  // An unterminated address is cut at 127 bytes.
  std::memset(s.proxyAddress, 'a', sizeof s.proxyAddress);
  char shown[128];
  EXPECT_EQ(std::strlen(ProxyAddressText(s, shown)), 127u);
}

}  // namespace
}  // namespace qlan::test
