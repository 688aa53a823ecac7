// The record list and the erase of all records on the real dialog.
#include <gtest/gtest.h>

#include "driver.h"
#include "support/temp_env.h"
#include "ui/resource.h"

namespace qlan::e2e {
namespace {

using test::ReadAll;
using test::TestDataPath;
using test::UserDataFixture;

void CopyGoodReplays(const UserDataFixture& user) {
  test::MakeFolder(user.ReplayPath());
  for (const char* name : {"r710.replay", "r712.replay", "r745.replay"}) {
    test::WriteAll(user.ReplayPath(name),
                   ReadAll(TestDataPath(std::string("replays/good/") + name)));
  }
}

TEST(RecordsE2e, ListShowsTheValidReplaysInRouteOrder) {
  UserDataFixture user;
  CopyGoodReplays(user);
  // A replay of another route under 711's name has no line.
  test::WriteAll(user.ReplayPath("r711.replay"),
                 ReadAll(TestDataPath("replays/bad/route713-as-r712.replay")));
  Tool tool(user.appData());
  ASSERT_NE(tool.Dialog(), nullptr);
  const std::vector<std::wstring> expected = {
      L"R 710:  45,678m  2'03.06", L"R 712:       0m  0'00.00", L"R 745:  3,456km  1:23'20"};
  EXPECT_EQ(tool.ListLines(IDC_RECORD_LIST), expected);
  EXPECT_EQ(tool.ListSelection(IDC_RECORD_LIST), 0);
  tool.Press(IDCANCEL);
  EXPECT_EQ(tool.WaitForExit(), 0u);
}

TEST(RecordsE2e, EraseAsksTwiceDeletesEverythingAndEmptiesTheList) {
  UserDataFixture user;
  CopyGoodReplays(user);
  Tool tool(user.appData());
  ASSERT_EQ(tool.ListLines(IDC_RECORD_LIST).size(), 3u);

  tool.Press(IDC_ERASE);
  const MessageBoxSeen first = tool.WaitForMessageBox();
  EXPECT_EQ(first.text,
            L"この操作を行うとリプレイとハイスコアが全て消去されます。\nよろしいですか？");
  EXPECT_EQ(first.caption, L"記録の消去");
  EXPECT_EQ(first.owner, tool.Dialog());
  EXPECT_EQ(first.icon, IDI_EXCLAMATION);
  EXPECT_TRUE(first.hasCancel);
  tool.Answer(first, IDOK);
  const MessageBoxSeen second = tool.WaitForMessageBox();
  EXPECT_EQ(second.text, L"いちど消去すると元に戻すことはできません。\n本当によろしいですか？");
  EXPECT_EQ(second.icon, IDI_EXCLAMATION);
  tool.Answer(second, IDOK);
  const MessageBoxSeen done = tool.WaitForMessageBox();
  EXPECT_EQ(done.text, L"消去が完了しました。");
  EXPECT_EQ(done.caption, L"記録の消去");
  EXPECT_EQ(done.icon, IDI_ASTERISK);
  EXPECT_FALSE(done.hasCancel);
  tool.Answer(done, IDOK);

  EXPECT_TRUE(WaitUntil([&] { return tool.ListLines(IDC_RECORD_LIST).empty(); }, 3000));
  EXPECT_FALSE(test::Exists(user.ReplayPath("r710.replay")));
  EXPECT_FALSE(test::Exists(user.ReplayPath("r745.replay")));
  const auto empty = ReadAll(TestDataPath("highscore/empty-table.ee"));
  EXPECT_EQ(ReadAll(user.VendorPath("qlanb.ee")), empty);
  EXPECT_EQ(ReadAll(user.VendorPath("qlanc.ee")), empty);
  tool.Press(IDOK);
  EXPECT_EQ(tool.WaitForExit(), 0u);
}

TEST(RecordsE2e, CancelAtTheSecondQuestionKeepsEverything) {
  UserDataFixture user;
  CopyGoodReplays(user);
  Tool tool(user.appData());
  ASSERT_NE(tool.Dialog(), nullptr);
  tool.Press(IDC_ERASE);
  tool.Answer(tool.WaitForMessageBox(), IDOK);
  tool.Answer(tool.WaitForMessageBox(), IDCANCEL);
  EXPECT_TRUE(tool.NoMessageBoxWithin(300));
  EXPECT_EQ(tool.ListLines(IDC_RECORD_LIST).size(), 3u);
  EXPECT_TRUE(test::Exists(user.ReplayPath("r712.replay")));
  EXPECT_FALSE(test::Exists(user.VendorPath("qlanb.ee")));
  tool.Press(IDCANCEL);
  EXPECT_EQ(tool.WaitForExit(), 0u);
}

}  // namespace
}  // namespace qlan::e2e
