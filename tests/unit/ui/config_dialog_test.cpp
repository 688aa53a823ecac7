// The dialog's logic and the program's run around it, through the fake window, and the
// rule for showing bytes from outside.
#include <gtest/gtest.h>

#include <cstring>

#include "app/settings.h"
#include "app/text.h"
#include "support/fake_window.h"
#include "support/temp_env.h"
#include "ui/application.h"
#include "ui/config_dialog.h"
#include "ui/resource.h"

namespace qlan::test {
namespace {

using Shown = std::vector<ShownMessage>;

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSettings(g_settings); }
  // A click: the platform sets the button (and clears the rest of a radio group).
  std::uint32_t Click(int id, bool on, std::initializer_list<int> group = {}) {
    for (int other : group) window.SetChecked(other, false);
    window.SetChecked(id, on);
    dialog.OnCommand(id);
    return g_settings.flags;
  }
  void Type(int id, const std::string& text) {
    window.texts[id] = text;
    dialog.OnCommand(id);
  }
  int Run(int result, const std::function<void()>& inDialog) {
    window.messages.clear();
    return RunApplication(window, [&] { return inDialog(), result; });
  }
  UserDataFixture user;
  FakeWindow window;
  ConfigDialog dialog{window};
};

TEST_F(DialogTest, OptionButtonsAndFieldsSetTheRecord) {
  g_settings.flags = 0x4;
  dialog.Initialize();
  EXPECT_TRUE(window.IsChecked(IDC_REPLAY_EVERY_RUN) && !window.IsChecked(IDC_REPLAY_BETTER));
  g_settings.flags = 0x2 | 0x100;  // value two shows full screen
  dialog.Initialize();
  EXPECT_TRUE(window.IsChecked(IDC_FULL_SCREEN) && !window.IsChecked(IDC_WINDOW_320));
  const auto screen = {IDC_FULL_SCREEN, IDC_WINDOW_320, IDC_WINDOW_640};
  // clang-format off
  const std::pair<std::uint32_t, std::uint32_t> clicks[] = {
      {Click(IDC_WINDOW_640, true, screen), 0x103}, {Click(IDC_WINDOW_320, true, screen), 0x101},
      {Click(IDC_FULL_SCREEN, true, screen), 0x100}, {Click(IDC_AUTO_DOWNLOAD, true), 0x108},
      {Click(IDC_REPLAY_EVERY_RUN, true, {IDC_REPLAY_BETTER}), 0x10C},
      {Click(IDC_SWAP_BUTTONS, true), 0x12C}, {Click(IDC_AUTO_DOWNLOAD, false), 0x124},
      {Click(IDC_REPLAY_BETTER, true, {IDC_REPLAY_EVERY_RUN}), 0x120},
      {Click(IDC_SWAP_BUTTONS, false), 0x100}, {Click(IDC_USE_PROXY, true), 0x110}};
  // clang-format on
  for (const auto& [flags, expected] : clicks) EXPECT_EQ(flags, expected);
  EXPECT_TRUE(window.disabled.empty());
  EXPECT_EQ(Click(IDC_USE_PROXY, false), 0x100u);
  EXPECT_EQ(window.disabled, (std::set<int>{IDE_PROXY_ADDRESS, IDE_PROXY_PORT}));
  EXPECT_EQ(dialog.OnCommand(kIdOk), 1);
  EXPECT_EQ(dialog.OnCommand(kIdCancel), 0);
  EXPECT_FALSE(dialog.OnCommand(4242).has_value());
  const std::pair<const char*, int> ports[] = {
      {"  443", 443}, {"-12", -12}, {"123456789", 1234567}};
  for (const auto& [text, port] : ports) {
    Type(IDE_PROXY_PORT, text);
    EXPECT_EQ(g_settings.proxyPort, port) << text;
  }
  Type(IDE_PROXY_ADDRESS, "long.proxy.example");
  Type(IDE_PROXY_ADDRESS, "ab");
  EXPECT_STREQ(g_settings.proxyAddress, "ab");
  EXPECT_EQ(g_settings.proxyAddress[3], 'g');  // older bytes stay behind the terminator
  Type(IDE_PROXY_ADDRESS, std::string(200, 'h'));
  EXPECT_EQ(std::strlen(g_settings.proxyAddress), 127u);
}

TEST(ShowableText, Utf8AsItIsElseCodePage932WithAReplacementPerBadByte) {
  const std::pair<const char*, const char*> cases[] = {
      {"503 \xE3\x82\xB5\xE3\x83\xBC\xE3\x83\x90", "503 サーバ"},                    // valid UTF-8
      {"503 \x83\x54\x81\x5B\x83\x6F\x8D\xAC\x8E\x47\x92\x86", "503 サーバ混雑中"},  // Shift-JIS
      {"\xB1\xB2 proxy\x5C\x7E", "ｱｲ proxy\\~"},
      {"\x80 \xFD\xFE \x81", "\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD"},  // neither
      {"\xE3\x81\x82 \x82\xA0", "縺\xEF\xBF\xBD あ"}};  // both mixed: read as code page 932
  for (const auto& [bytes, shown] : cases) EXPECT_EQ(ShowableText(bytes), shown) << bytes;
}

TEST_F(DialogTest, StoredAddressInCodePage932IsShownAndKeptUnlessEdited) {
  Settings file{};
  ResetSettings(file);
  std::memcpy(file.proxyAddress, "\x83\x76\x83\x8D\x83\x4C\x83\x56.lan\0z", 15);  // プロキシ
  MakeFolder(user.VendorPath());
  const std::string ini = user.VendorPath("qlan.ini");
  ASSERT_EQ(SaveSettings(ini.c_str(), file), 0);
  const auto before = ReadAll(ini);
  for (const bool edit : {false, true}) {
    EXPECT_EQ(Run(1,
                  [&] {
                    dialog.Initialize();
                    EXPECT_EQ(window.texts[IDE_PROXY_ADDRESS], "プロキシ.lan");
                    dialog.OnCommand(IDE_PROXY_ADDRESS);  // the field reports the text it was given
                    if (edit) Type(IDE_PROXY_ADDRESS, "proxy.lan");
                  }),
              0);
    EXPECT_EQ(ReadAll(ini) == before, !edit);
  }
  EXPECT_STREQ(g_settings.proxyAddress, "proxy.lan");
}

// The whole run: load, the save decision and the ownerless messages.
TEST_F(DialogTest, RunSavesOnlyAChangeAfterOkAndShowsEachFileProblem) {
  const std::string ini = user.VendorPath("qlan.ini"), caption = "Quillaneツール";
  const auto change = [] { g_settings.flags = 0x33; };
  for (const int result : {0, -1}) EXPECT_EQ(Run(result, change), 0);  // first start: silent
  EXPECT_EQ(Run(1, [] {}), 0);
  EXPECT_FALSE(Exists(ini));
  EXPECT_EQ(Run(1, change), 0);
  EXPECT_EQ(ReadAll(ini)[11], 0x33);
  EXPECT_TRUE(window.messages.empty());
  WriteAll(ini, Bytes(143, 0));
  EXPECT_EQ(Run(1, [] {}), 0);
  EXPECT_EQ(window.messages, (Shown{{"設定ファイルを読み込めません。\n標準の設定を使用します。",
                                     caption, kMbOk | kMbIconInformation, false}}));
  SetReadOnly(ini, true);
  EXPECT_EQ(Run(1, change), -1);
  EXPECT_EQ(window.messages.back(),
            (ShownMessage{"設定ファイルの保存に失敗しました。\n設定は元に戻ります。", caption,
                          kMbOk | kMbIconHand, false}));
  EXPECT_EQ(ReadAll(ini).size(), 143u);  // unchanged
  ScopedEnv env("APPDATA", ini);         // a file where the folder belongs
  EXPECT_EQ(Run(1, change), 0);
  EXPECT_EQ(window.messages,
            (Shown{{"設定ファイルを作成できません。\n設定を変更しても反映はされません。", caption,
                    kMbOk | kMbIconHand, false}}));
}

}  // namespace
}  // namespace qlan::test
