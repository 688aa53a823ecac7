// The dialog's logic and the program's run, through the fake window.
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
  // A click on a radio button: the platform checks it and unchecks its group.
  void ClickRadio(int id, std::initializer_list<int> group) {
    for (int other : group) window.SetChecked(other, other == id);
    dialog.OnCommand(id);
  }
  test::UserDataFixture user;
  FakeWindow window;
  ConfigDialog dialog{window};
};

TEST_F(DialogTest, ScreenModeButtonsSetBothBitsAndValueTwoShowsFullScreen) {
  g_settings.flags = 0x2 | 0x100;
  dialog.Initialize();
  EXPECT_TRUE(window.IsChecked(IDC_FULL_SCREEN));
  EXPECT_FALSE(window.IsChecked(IDC_WINDOW_320));
  EXPECT_EQ(g_settings.flags, 0x102u) << "kept until a screen mode is picked";
  const auto group = {IDC_FULL_SCREEN, IDC_WINDOW_320, IDC_WINDOW_640};
  ClickRadio(IDC_WINDOW_640, group);
  EXPECT_EQ(g_settings.flags, 0x103u);
  ClickRadio(IDC_WINDOW_320, group);
  EXPECT_EQ(g_settings.flags, 0x101u);
  ClickRadio(IDC_FULL_SCREEN, group);
  EXPECT_EQ(g_settings.flags, 0x100u);
}

TEST_F(DialogTest, CheckBoxesAndReplayButtonsSetTheirBits) {
  dialog.Initialize();
  window.SetChecked(IDC_AUTO_DOWNLOAD, true);
  dialog.OnCommand(IDC_AUTO_DOWNLOAD);
  window.SetChecked(IDC_SWAP_BUTTONS, true);
  dialog.OnCommand(IDC_SWAP_BUTTONS);
  ClickRadio(IDC_REPLAY_EVERY_RUN, {IDC_REPLAY_BETTER, IDC_REPLAY_EVERY_RUN});
  EXPECT_EQ(g_settings.flags, kFlagAutoDownload | kFlagSwapButtons | kFlagReplayEveryRun);
  ClickRadio(IDC_REPLAY_BETTER, {IDC_REPLAY_BETTER, IDC_REPLAY_EVERY_RUN});
  window.SetChecked(IDC_AUTO_DOWNLOAD, false);
  dialog.OnCommand(IDC_AUTO_DOWNLOAD);
  EXPECT_EQ(g_settings.flags, kFlagSwapButtons);
}

TEST_F(DialogTest, ProxyCheckBoxEnablesFieldsAndKeepsTheirValues) {
  std::strcpy(g_settings.proxyAddress, "proxy.example.net");
  g_settings.proxyPort = 8080;
  dialog.Initialize();
  EXPECT_EQ(window.texts[IDE_PROXY_ADDRESS], "proxy.example.net");
  EXPECT_EQ(window.texts[IDE_PROXY_PORT], "8080");
  EXPECT_FALSE(window.IsEnabled(IDE_PROXY_ADDRESS));
  window.SetChecked(IDC_USE_PROXY, true);
  dialog.OnCommand(IDC_USE_PROXY);
  EXPECT_TRUE(window.IsEnabled(IDE_PROXY_ADDRESS));
  EXPECT_TRUE(window.IsEnabled(IDE_PROXY_PORT));
  window.SetChecked(IDC_USE_PROXY, false);
  dialog.OnCommand(IDC_USE_PROXY);
  EXPECT_FALSE(window.IsEnabled(IDE_PROXY_ADDRESS));
  EXPECT_FALSE(window.IsEnabled(IDE_PROXY_PORT));
  EXPECT_STREQ(g_settings.proxyAddress, "proxy.example.net");
  EXPECT_EQ(g_settings.proxyPort, 8080);
}

TEST_F(DialogTest, PortTextIsReadOnEveryChange) {
  dialog.Initialize();
  const std::pair<const char*, int> cases[] = {{"8", 8},     {"80", 80}, {"  443", 443},
                                               {"-12", -12}, {"+7", 7},  {"80ab", 80},
                                               {"", 0},      {"abc", 0}, {"123456789", 1234567}};
  for (const auto& [text, port] : cases) {
    window.texts[IDE_PROXY_PORT] = text;
    dialog.OnCommand(IDE_PROXY_PORT);
    EXPECT_EQ(g_settings.proxyPort, port) << text;
  }
}

TEST_F(DialogTest, ShorterAddressLeavesOlderBytesBehindItsTerminator) {
  dialog.Initialize();
  window.texts[IDE_PROXY_ADDRESS] = "long.proxy.example";
  dialog.OnCommand(IDE_PROXY_ADDRESS);
  window.texts[IDE_PROXY_ADDRESS] = "ab";
  dialog.OnCommand(IDE_PROXY_ADDRESS);
  EXPECT_STREQ(g_settings.proxyAddress, "ab");
  EXPECT_EQ(g_settings.proxyAddress[3], 'g');
  window.texts[IDE_PROXY_ADDRESS] = std::string(200, 'h');
  dialog.OnCommand(IDE_PROXY_ADDRESS);
  EXPECT_EQ(std::strlen(g_settings.proxyAddress), 127u);
}

TEST_F(DialogTest, OkAndCancelEndTheDialogOtherCommandsDoNot) {
  dialog.Initialize();
  EXPECT_EQ(dialog.OnCommand(1), 1);
  EXPECT_EQ(dialog.OnCommand(2), 0);
  EXPECT_FALSE(dialog.OnCommand(IDC_USE_PROXY).has_value());
  EXPECT_FALSE(dialog.OnCommand(4242).has_value());
}

// The whole run around the dialog: load, snapshot, save decision and messages.
class RunTest : public ::testing::Test {
 protected:
  int Run(int dialogResult, std::uint32_t newFlags) {
    return RunApplication(window, [&] {
      g_settings.flags = newFlags;
      return dialogResult;
    });
  }
  test::UserDataFixture user;
  FakeWindow window;
};

TEST_F(RunTest, FirstStartIsSilentAndSavesOnOkWhenChanged) {
  EXPECT_EQ(Run(1, 0), 0);
  EXPECT_TRUE(window.messages.empty());
  EXPECT_FALSE(test::Exists(user.VendorPath("qlan.ini")));
  EXPECT_EQ(Run(1, 0x33), 0);
  EXPECT_EQ(test::ReadAll(user.VendorPath("qlan.ini"))[11], 0x33);
}

TEST_F(RunTest, CancelCloseAndUncreatedDialogSaveNothing) {
  for (int result : {0, -1}) EXPECT_EQ(Run(result, 0x33), 0);
  EXPECT_FALSE(test::Exists(user.VendorPath("qlan.ini")));
}

TEST_F(RunTest, UnreadableFileShowsTheInformationMessage) {
  test::MakeFolder(user.VendorPath());
  test::WriteAll(user.VendorPath("qlan.ini"), std::vector<std::uint8_t>(143, 0));
  EXPECT_EQ(Run(1, 0), 0);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, "設定ファイルを読み込めません。\n標準の設定を使用します。");
  EXPECT_EQ(window.messages[0].caption, "Quillaneツール");
  EXPECT_EQ(window.messages[0].style, kMbOk | kMbIconInformation);
  EXPECT_FALSE(window.messages[0].owned);
  EXPECT_EQ(test::ReadAll(user.VendorPath("qlan.ini")).size(), 143u) << "no change, no save";
}

TEST_F(RunTest, UnusableFolderShowsTheErrorAndNeverSaves) {
  test::WriteAll(user.VendorPath(), {1});
  EXPECT_EQ(Run(1, 0x33), 0);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text,
            "設定ファイルを作成できません。\n設定を変更しても反映はされません。");
  EXPECT_EQ(window.messages[0].style, kMbOk | kMbIconHand);
}

TEST_F(RunTest, FailedSaveShowsItsMessageAndExitsWithMinusOne) {
  test::MakeFolder(user.VendorPath());
  const auto defaults = test::ReadAll(test::TestDataPath("settings/defaults.ini"));
  test::WriteAll(user.VendorPath("qlan.ini"), defaults);
  test::SetReadOnly(user.VendorPath("qlan.ini"), true);
  EXPECT_EQ(Run(1, 0x08), -1);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, "設定ファイルの保存に失敗しました。\n設定は元に戻ります。");
  EXPECT_EQ(window.messages[0].style, kMbOk | kMbIconHand);
  EXPECT_EQ(test::ReadAll(user.VendorPath("qlan.ini")), defaults);
}

}  // namespace
}  // namespace qlan
