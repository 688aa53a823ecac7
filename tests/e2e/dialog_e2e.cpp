// The real dialog: its controls, options written to qlan.ini, and the start-up and save
// messages.
#include <gtest/gtest.h>

#include "driver.h"
#include "support/temp_env.h"
#include "ui/resource.h"

namespace qlan::e2e {
namespace {

using test::ReadAll;
using test::TestDataPath;
using test::UserDataFixture;
using test::WriteAll;

constexpr DWORD kFailedExit = 0xFFFFFFFF;

struct Expected {
  int id;
  const wchar_t* className;
  const wchar_t* text;
};

TEST(DialogE2e, EveryControlOfTheTemplateInTabOrder) {
  UserDataFixture user;
  Tool tool(user.appData());
  HWND dialog = tool.Dialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(tool.NoMessageBoxWithin(300)) << "a first start is silent";

  wchar_t caption[128] = {};
  GetWindowTextW(dialog, caption, 128);
  EXPECT_STREQ(caption, L"Quillaneツール for Quillane v.2b");
  const LONG style = GetWindowLongW(dialog, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));

  const Expected expected[] = {
      {IDOK, L"Button", L"OK"},
      {IDCANCEL, L"Button", L"キャンセル"},
      {IDC_DOWNLOAD, L"Button", L"インターネットからダウンロード..."},
      {IDC_AUTO_DOWNLOAD, L"Button", L"ゲーム起動時に自動ダウンロード"},
      {IDC_RECORD_LIST, L"ComboBox", L""},
      {IDC_ENTRY, L"Button", L"↑の記録でエントリー"},
      {IDC_USE_PROXY, L"Button", L"ランキングの処理にプロキシサーバを使う"},
      {IDE_PROXY_ADDRESS, L"Edit", L""},
      {IDE_PROXY_PORT, L"Edit", L"0"},
      {IDC_FULL_SCREEN, L"Button", L"フルスクリーン"},
      {IDC_WINDOW_320, L"Button", L"ウインドウ (320x240)"},
      {IDC_WINDOW_640, L"Button", L"ウインドウ (640x480, ぼやける場合あり)"},
      {IDC_REPLAY_BETTER, L"Button", L"よりよい記録が出たとき"},
      {IDC_REPLAY_EVERY_RUN, L"Button", L"毎回"},
      {IDC_ERASE, L"Button", L"全ての記録を消去"},
      {IDC_SWAP_BUTTONS, L"Button", L"ボタン1とボタン2を入れ換える"},
      {IDC_STATIC, L"Button", L"ランキング"},
      {IDC_STATIC, L"Static", L"ダウンロード："},
      {IDC_STATIC, L"Button", L"ゲーム設定"},
      {IDC_STATIC, L"Static", L"画面モード："},
      {IDC_STATIC, L"Static", L"リプレイの保存："},
      {IDC_STATIC, L"Static", L"エントリー："},
      {IDC_STATIC, L"Button", L"プロキシ"},
      {IDC_STATIC, L"Static", L"アドレス："},
      {IDC_STATIC, L"Static", L"ポート："},
      {IDC_STATIC, L"Static", L"ウェブブラウザと同様にプロキシを指定してください"},
      {IDC_STATIC, L"Static", L"コントローラ："},
  };
  const auto controls = tool.Controls();
  ASSERT_EQ(controls.size(), std::size(expected));
  for (std::size_t i = 0; i < controls.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(controls[i].id, expected[i].id);
    EXPECT_EQ(controls[i].className, expected[i].className);
    if (expected[i].id != IDC_RECORD_LIST) {
      EXPECT_EQ(controls[i].text, expected[i].text);
    }
    const bool proxyField = expected[i].id == IDE_PROXY_ADDRESS || expected[i].id == IDE_PROXY_PORT;
    EXPECT_EQ(controls[i].enabled, !proxyField);
  }
  EXPECT_TRUE(tool.IsChecked(IDC_FULL_SCREEN));
  EXPECT_TRUE(tool.IsChecked(IDC_REPLAY_BETTER));
  EXPECT_FALSE(tool.IsChecked(IDC_USE_PROXY));

  tool.Press(IDCANCEL);
  EXPECT_EQ(tool.WaitForExit(), 0u);
  EXPECT_FALSE(test::Exists(user.VendorPath("qlan.ini")));
}

TEST(DialogE2e, OptionsTypedAndClickedAreSavedOnOk) {
  UserDataFixture user;
  Tool tool(user.appData());
  ASSERT_NE(tool.Dialog(), nullptr);
  tool.Click(IDC_WINDOW_640);
  tool.Click(IDC_USE_PROXY);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(tool.Dialog(), IDE_PROXY_ADDRESS)));
  tool.Click(IDC_SWAP_BUTTONS);
  tool.SetText(IDE_PROXY_ADDRESS, L"proxy.example.net");
  tool.SetText(IDE_PROXY_PORT, L"8080");
  tool.Press(IDOK);
  EXPECT_EQ(tool.WaitForExit(), 0u);
  EXPECT_EQ(ReadAll(user.VendorPath("qlan.ini")),
            ReadAll(TestDataPath("settings/window640-proxy-swap-port8080.ini")));
}

TEST(DialogE2e, OkWithoutChangeCancelAndCloseBoxWriteNothing) {
  UserDataFixture user;
  test::MakeFolder(user.VendorPath());
  const auto stored = ReadAll(TestDataPath("settings/window640-proxy-swap-port8080.ini"));
  WriteAll(user.VendorPath("qlan.ini"), stored);
  {
    Tool tool(user.appData());
    ASSERT_NE(tool.Dialog(), nullptr);
    EXPECT_TRUE(tool.IsChecked(IDC_WINDOW_640));
    EXPECT_EQ(tool.Text(IDE_PROXY_ADDRESS), L"proxy.example.net");
    EXPECT_EQ(tool.Text(IDE_PROXY_PORT), L"8080");
    tool.Press(IDOK);
    EXPECT_EQ(tool.WaitForExit(), 0u);
  }
  {
    Tool tool(user.appData());
    tool.Click(IDC_FULL_SCREEN);
    tool.Press(IDCANCEL);
    EXPECT_EQ(tool.WaitForExit(), 0u);
  }
  {
    Tool tool(user.appData());
    tool.Click(IDC_REPLAY_EVERY_RUN);
    tool.Close();
    EXPECT_EQ(tool.WaitForExit(), 0u);
  }
  EXPECT_EQ(ReadAll(user.VendorPath("qlan.ini")), stored);
}

TEST(DialogE2e, UnreadableSettingsShowTheInformationMessageAndDefaults) {
  UserDataFixture user;
  test::MakeFolder(user.VendorPath());
  auto shortFile = ReadAll(TestDataPath("settings/window640-proxy-swap-port8080.ini"));
  shortFile.resize(143);
  WriteAll(user.VendorPath("qlan.ini"), shortFile);
  Tool tool(user.appData());
  const MessageBoxSeen box = tool.WaitForMessageBox();
  ASSERT_NE(box.window, nullptr);
  EXPECT_EQ(box.text, L"設定ファイルを読み込めません。\n標準の設定を使用します。");
  EXPECT_EQ(box.caption, L"Quillaneツール");
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_EQ(box.icon, IDI_ASTERISK);
  tool.Answer(box, IDOK);
  ASSERT_NE(tool.Dialog(), nullptr);
  EXPECT_TRUE(tool.IsChecked(IDC_FULL_SCREEN));
  tool.Press(IDOK);
  EXPECT_EQ(tool.WaitForExit(), 0u);
  EXPECT_EQ(ReadAll(user.VendorPath("qlan.ini")), shortFile);
}

TEST(DialogE2e, APlainFileNamedLikeTheFolderShowsTheErrorAndSavesNothing) {
  UserDataFixture user;
  WriteAll(user.VendorPath(), {'x'});
  Tool tool(user.appData());
  const MessageBoxSeen box = tool.WaitForMessageBox();
  ASSERT_NE(box.window, nullptr);
  EXPECT_EQ(box.text, L"設定ファイルを作成できません。\n設定を変更しても反映はされません。");
  EXPECT_EQ(box.caption, L"Quillaneツール");
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_EQ(box.icon, IDI_HAND);
  tool.Answer(box, IDOK);
  tool.Click(IDC_SWAP_BUTTONS);
  tool.Press(IDOK);
  EXPECT_EQ(tool.WaitForExit(), 0u);
  EXPECT_EQ(ReadAll(user.VendorPath()), (std::vector<std::uint8_t>{'x'}));
}

TEST(DialogE2e, ReadOnlySettingsFileFailsTheSaveWithMinusOne) {
  UserDataFixture user;
  test::MakeFolder(user.VendorPath());
  const auto defaults = ReadAll(TestDataPath("settings/defaults.ini"));
  WriteAll(user.VendorPath("qlan.ini"), defaults);
  test::SetReadOnly(user.VendorPath("qlan.ini"), true);
  Tool tool(user.appData());
  ASSERT_NE(tool.Dialog(), nullptr);
  tool.Click(IDC_AUTO_DOWNLOAD);
  tool.Press(IDOK);
  const MessageBoxSeen box = tool.WaitForMessageBox();
  EXPECT_EQ(box.text, L"設定ファイルの保存に失敗しました。\n設定は元に戻ります。");
  EXPECT_EQ(box.caption, L"Quillaneツール");
  EXPECT_EQ(box.icon, IDI_HAND);
  tool.Answer(box, IDOK);
  EXPECT_EQ(tool.WaitForExit(), kFailedExit);
  EXPECT_EQ(ReadAll(user.VendorPath("qlan.ini")), defaults);
}

}  // namespace
}  // namespace qlan::e2e
