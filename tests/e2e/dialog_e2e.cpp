// The real dialog: options written to qlan.ini, what OK, Cancel and the close box save, and
// the start-up and save messages.
#include <gtest/gtest.h>

#include <algorithm>

#include "driver.h"
#include "support/temp_env.h"
#include "ui/resource.h"

namespace qlan::e2e {
namespace {

using test::ReadAll;
using test::TestDataPath;
using test::UserDataFixture;
using test::WriteAll;
using Bytes = std::vector<std::uint8_t>;

constexpr wchar_t kCaption[] = L"Quillaneツール";

Bytes Known(const char* name) { return ReadAll(TestDataPath(std::string("settings/") + name)); }

void Store(const UserDataFixture& user, const Bytes& file) {
  test::MakeFolder(user.VendorPath());
  WriteAll(user.VendorPath("qlan.ini"), file);
}

TEST(DialogE2e, OkSavesWhatWasClickedAndTypedAndNothingElseSaves) {
  UserDataFixture user;
  const Bytes expected = Known("window640-proxy-swap-port8080.ini");
  {
    Tool tool(user.appData());
    ASSERT_NE(tool.Dialog(), nullptr);
    EXPECT_TRUE(tool.NoMessageBoxWithin(300)) << "a first start is silent";
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(tool.Dialog(), IDE_PROXY_ADDRESS)));
    tool.Click(IDC_WINDOW_640);
    tool.Click(IDC_USE_PROXY);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(tool.Dialog(), IDE_PROXY_PORT)));
    tool.Click(IDC_SWAP_BUTTONS);
    tool.SetText(IDE_PROXY_ADDRESS, L"proxy.example.net");
    tool.SetText(IDE_PROXY_PORT, L"8080");
    tool.End(IDOK);
  }
  EXPECT_EQ(ReadAll(user.VendorPath("qlan.ini")), expected);
  for (const int way : {IDOK, IDCANCEL, 0}) {  // 0: the close box
    Tool tool(user.appData());
    ASSERT_NE(tool.Dialog(), nullptr);
    EXPECT_TRUE(tool.IsChecked(IDC_WINDOW_640));
    EXPECT_EQ(tool.Text(IDE_PROXY_ADDRESS), L"proxy.example.net");
    if (way != IDOK) tool.Click(IDC_REPLAY_EVERY_RUN);
    if (way != 0) {
      tool.End(way);
    } else {
      tool.Close();
      EXPECT_EQ(tool.WaitForExit(), 0u);
    }
  }
  EXPECT_EQ(ReadAll(user.VendorPath("qlan.ini")), expected);
}

TEST(DialogE2e, ShiftJisAddressIsShownAndKeptByAnOkWithoutChange) {
  UserDataFixture user;
  Bytes file = Known("defaults.ini");
  file[11] |= 0x10;                                                             // proxy on
  const Bytes proxyInCp932 = {0x83, 0x76, 0x83, 0x8D, 0x83, 0x4C, 0x83, 0x56};  // "プロキシ"
  std::copy(proxyInCp932.begin(), proxyInCp932.end(), file.begin() + 16);
  Store(user, file);
  Tool tool(user.appData());
  ASSERT_NE(tool.Dialog(), nullptr);
  EXPECT_EQ(tool.Text(IDE_PROXY_ADDRESS), L"プロキシ");
  tool.End(IDOK);
  EXPECT_EQ(ReadAll(user.VendorPath("qlan.ini")), file);
}

TEST(DialogE2e, StartUpAndSaveMessagesAndTheFilesTheyLeave) {
  const struct {
    const wchar_t* text;
    LPCWSTR icon;
    bool atStart;  // else after OK, once the dialog has gone
    DWORD exit;
  } rows[] = {
      {L"設定ファイルを読み込めません。\n標準の設定を使用します。", IDI_ASTERISK, true, 0},
      {L"設定ファイルを作成できません。\n設定を変更しても反映はされません。", IDI_HAND, true, 0},
      {L"設定ファイルの保存に失敗しました。\n設定は元に戻ります。", IDI_HAND, false, 0xFFFFFFFF}};
  for (const auto& row : rows) {
    UserDataFixture user;
    Bytes file = Known("defaults.ini");
    if (row.icon == IDI_ASTERISK) file.resize(143);  // too short to read
    if (row.atStart && row.icon == IDI_HAND) {
      file = {'x'};  // a plain file where the folder belongs
      WriteAll(user.VendorPath(), file);
    } else {
      Store(user, file);
    }
    if (!row.atStart) test::SetReadOnly(user.VendorPath("qlan.ini"), true);
    Tool tool(user.appData());
    if (row.atStart) tool.ExpectBox(row.text, kCaption, row.icon);
    ASSERT_NE(tool.Dialog(), nullptr);
    if (row.icon == IDI_HAND) tool.Click(IDC_SWAP_BUTTONS);
    tool.Press(IDOK);
    if (!row.atStart) tool.ExpectBox(row.text, kCaption, row.icon);
    EXPECT_EQ(tool.WaitForExit(), row.exit);
    EXPECT_EQ(ReadAll(file.size() == 1 ? user.VendorPath() : user.VendorPath("qlan.ini")), file);
  }
}

}  // namespace
}  // namespace qlan::e2e
