// The dialog's logic and the program's run around it, through the fake window.
#include <gtest/gtest.h>

#include <cstring>

#include "app/settings.h"
#include "support/fake_window.h"
#include "support/temp_env.h"
#include "ui/application.h"
#include "ui/config_dialog.h"
#include "ui/resource.h"

namespace qlan {
namespace {

using test::FakeWindow;

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
  test::UserDataFixture user;
  FakeWindow window;
  ConfigDialog dialog{window};
};

TEST_F(DialogTest, OptionButtonsSetTheirBitsAndValueTwoShowsFullScreen) {
  g_settings.flags = 0x2 | 0x100;
  dialog.Initialize();
  EXPECT_TRUE(window.IsChecked(IDC_FULL_SCREEN) && !window.IsChecked(IDC_WINDOW_320));
  const auto screen = {IDC_FULL_SCREEN, IDC_WINDOW_320, IDC_WINDOW_640};
  EXPECT_EQ(Click(IDC_WINDOW_640, true, screen), 0x103u);
  EXPECT_EQ(Click(IDC_WINDOW_320, true, screen), 0x101u);
  EXPECT_EQ(Click(IDC_FULL_SCREEN, true, screen), 0x100u);
  EXPECT_EQ(Click(IDC_REPLAY_EVERY_RUN, true, {IDC_REPLAY_BETTER}), 0x104u);
  EXPECT_EQ(Click(IDC_AUTO_DOWNLOAD, true), 0x10Cu);
  EXPECT_EQ(Click(IDC_SWAP_BUTTONS, true), 0x12Cu);
  EXPECT_EQ(Click(IDC_REPLAY_BETTER, true, {IDC_REPLAY_EVERY_RUN}), 0x128u);
  EXPECT_EQ(Click(IDC_AUTO_DOWNLOAD, false), 0x120u);
  EXPECT_EQ(Click(IDC_SWAP_BUTTONS, false), 0x100u);
  for (const bool on : {true, false}) {
    EXPECT_EQ(Click(IDC_USE_PROXY, on), on ? 0x110u : 0x100u);
    EXPECT_EQ(window.disabled.count(IDE_PROXY_ADDRESS) + window.disabled.count(IDE_PROXY_PORT),
              on ? 0u : 2u);
  }
  EXPECT_EQ(dialog.OnCommand(kIdOk), 1);
  EXPECT_EQ(dialog.OnCommand(kIdCancel), 0);
  EXPECT_FALSE(dialog.OnCommand(4242).has_value());
}

TEST_F(DialogTest, FieldsAreReadOnEveryChange) {
  dialog.Initialize();
  const std::pair<const char*, int> ports[] = {
      {"  443", 443}, {"-12", -12}, {"+7", 7}, {"80ab", 80}, {"abc", 0}, {"123456789", 1234567}};
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

TEST_F(DialogTest, StoredAddressInCodePage932IsShownAndKeptUnlessEdited) {
  const std::string stored = "\x83\x76\x83\x8D\x83\x4C\x83\x56.example";  // プロキシ, Shift-JIS
  Settings file{};
  ResetSettings(file);
  std::memcpy(file.proxyAddress, stored.data(), stored.size());
  file.proxyAddress[stored.size() + 1] = 'z';  // bytes behind the terminator stay too
  test::MakeFolder(user.VendorPath());
  ASSERT_EQ(SaveSettings(user.VendorPath("qlan.ini").c_str(), file), 0);
  const auto before = test::ReadAll(user.VendorPath("qlan.ini"));
  for (const bool edit : {false, true}) {
    EXPECT_EQ(RunApplication(window,
                             [&] {
                               dialog.Initialize();
                               EXPECT_EQ(window.texts[IDE_PROXY_ADDRESS], "プロキシ.example");
                               dialog.OnCommand(
                                   IDE_PROXY_ADDRESS);  // the field reports the text it was given
                               if (edit) Type(IDE_PROXY_ADDRESS, "proxy.lan");
                               return 1;
                             }),
              0);
    EXPECT_EQ(test::ReadAll(user.VendorPath("qlan.ini")) == before, !edit);
    EXPECT_TRUE(window.messages.empty());
  }
  EXPECT_STREQ(g_settings.proxyAddress, "proxy.lan");
}

// The whole run: load, the dialog, the save decision and the ownerless messages.
TEST_F(DialogTest, RunSavesOnlyAChangeAfterOkAndShowsEachFileProblem) {
  const auto run = [this](int result, std::uint32_t flags) {
    window.messages.clear();
    return RunApplication(window, [&] {
      g_settings.flags = flags;
      return result;
    });
  };
  const std::string ini = user.VendorPath("qlan.ini");
  for (const int result : {0, -1, 1}) EXPECT_EQ(run(result, 0), 0);  // first start: silent
  EXPECT_FALSE(test::Exists(ini));
  EXPECT_EQ(run(0, 0x33), 0);
  EXPECT_EQ(run(-1, 0x33), 0);
  EXPECT_FALSE(test::Exists(ini));
  EXPECT_EQ(run(1, 0x33), 0);
  EXPECT_EQ(test::ReadAll(ini)[11], 0x33);
  EXPECT_TRUE(window.messages.empty());
  const std::string caption = "Quillaneツール";
  test::WriteAll(ini, std::vector<std::uint8_t>(143, 0));
  EXPECT_EQ(run(1, 0), 0);
  EXPECT_EQ(
      window.messages,
      (std::vector<test::ShownMessage>{{"設定ファイルを読み込めません。\n標準の設定を使用します。",
                                        caption, kMbOk | kMbIconInformation, false}}));
  EXPECT_EQ(test::ReadAll(ini).size(), 143u);  // no change, no save
  test::SetReadOnly(ini, true);
  EXPECT_EQ(run(1, 0x08), -1);
  EXPECT_EQ(window.messages.back(),
            (test::ShownMessage{"設定ファイルの保存に失敗しました。\n設定は元に戻ります。", caption,
                                kMbOk | kMbIconHand, false}));
  EXPECT_EQ(test::ReadAll(ini).size(), 143u);
  test::TempFolder other;
  test::ScopedEnv env("APPDATA", other.Join("none"));
  test::WriteAll(other.Join("none"), {1});  // a file where the folder belongs
  EXPECT_EQ(run(1, 0x33), 0);
  EXPECT_EQ(window.messages,
            (std::vector<test::ShownMessage>{
                {"設定ファイルを作成できません。\n設定を変更しても反映はされません。", caption,
                 kMbOk | kMbIconHand, false}}));
}

}  // namespace
}  // namespace qlan
