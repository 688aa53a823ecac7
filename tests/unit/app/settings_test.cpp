// The settings record against the known-answer files and the file's failure codes.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "app/settings.h"
#include "support/temp_env.h"

namespace qlan::test {
namespace {

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
}

TEST(Settings, FileThatIsNotTheRecordGivesItsCodeAndDefaultsAndIsClosedAgain) {
  const struct {
    std::size_t size;  // of the known file, cut or padded (each row its own); 0: no file
    char magic;
    int code;
    const char* saved;  // the known file the loaded record saves as
  } rows[] = {{143, 'Q', kShortSettingsFile, "defaults.ini"},
              {200, 'Q', 0, "window640-proxy-swap-port8080.ini"},
              {144, 'q', -1, "defaults.ini"},
              {0, 'Q', 2, "defaults.ini"}};
  for (const auto& row : rows) {
    TempFolder dir;
    const std::string path = dir.Join("qlan.ini");
    Bytes bytes = ReadAll(TestDataPath("settings/window640-proxy-swap-port8080.ini"));
    bytes[0] = static_cast<std::uint8_t>(row.magic);
    bytes.resize(row.size, 0xEE);
    if (row.size > 0) WriteAll(path, bytes);
    Settings s{};
    EXPECT_EQ(LoadSettings(path.c_str(), s), row.code) << row.size;
    ASSERT_EQ(SaveSettings(path.c_str(), s), 0) << row.size;  // nothing holds the file open
    EXPECT_EQ(ReadAll(path), ReadAll(TestDataPath(std::string("settings/") + row.saved)))
        << row.size;
  }
}

TEST(Settings, SaveThatCannotWriteGivesItsCodeAndLeavesTheFolderAsItWas) {
  const struct {
    bool readOnly;
    const char* folder;  // made at the path plus this, or nothing
    bool longPath;       // 257 characters: the temporary file's path does not fit
    int code;            // 0: any failure
  } rows[] = {{true, nullptr, false, 5},
              {false, ".new", false, 0},
              {false, "", false, 0},
              {false, nullptr, true, -1}};
  for (const auto& row : rows) {
    TempFolder dir;
    const std::string path =
        dir.Join(row.longPath ? std::string(256 - dir.path().size(), 'a') : "qlan.ini");
    if (row.folder != nullptr) MakeFolder(path + row.folder);
    if (!Exists(path)) WriteAll(path, ReadAll(TestDataPath("settings/defaults.ini")));
    SetReadOnly(path, row.readOnly);
    const Bytes before = ReadAll(path);
    const bool temporary = Exists(path + ".new");
    Settings s{};
    const int code = SaveSettings(path.c_str(), s);
    EXPECT_TRUE(row.code != 0 ? code == row.code : code != 0) << path << ": " << code;
    EXPECT_EQ(ReadAll(path), before) << path;
    EXPECT_EQ(Exists(path + ".new"), temporary) << path;
  }
}

TEST(Settings, UnterminatedAddressIsShownCutAt127Bytes) {
  Settings s{};
  std::memset(s.proxyAddress, 'a', sizeof s.proxyAddress);
  char shown[128];
  EXPECT_EQ(std::strlen(ProxyAddressText(s, shown)), 127u);
}

}  // namespace
}  // namespace qlan::test
