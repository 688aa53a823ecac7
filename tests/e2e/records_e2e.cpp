// The record list and the erase of all records on the real dialog.
#include <gtest/gtest.h>

#include "driver.h"
#include "support/temp_env.h"
#include "ui/resource.h"

namespace qlan::e2e {
namespace {

using test::Exists;
using test::ReadAll;
using test::TestDataPath;
using test::UserDataFixture;

void CopyGoodReplays(const UserDataFixture& user) {
  test::MakeFolder(user.ReplayPath());
  for (const char* name : {"r710.replay", "r712.replay", "r745.replay"}) {
    test::WriteAll(user.ReplayPath(name),
                   ReadAll(TestDataPath(std::string("replays/good/") + name)));
  }
  // A replay of another route under 711's name has no line.
  test::WriteAll(user.ReplayPath("r711.replay"),
                 ReadAll(TestDataPath("replays/bad/route713-as-r712.replay")));
}

constexpr wchar_t kErase[] = L"記録の消去";

TEST(RecordsE2e, EraseAsksTwiceDeletesEverythingAndEmptiesTheList) {
  UserDataFixture user;
  CopyGoodReplays(user);
  Tool tool(user.appData());
  ASSERT_NE(tool.Dialog(), nullptr);
  EXPECT_EQ(tool.ListLines(IDC_RECORD_LIST),
            (std::vector<std::wstring>{L"R 710:  45,678m  2'03.06", L"R 712:       0m  0'00.00",
                                       L"R 745:  3,456km  1:23'20"}));
  EXPECT_EQ(tool.ListSelection(IDC_RECORD_LIST), 0);
  tool.Press(IDC_ERASE);
  tool.ExpectBox(L"この操作を行うとリプレイとハイスコアが全て消去されます。\nよろしいですか？",
                 kErase, IDI_EXCLAMATION, true);
  tool.ExpectBox(L"いちど消去すると元に戻すことはできません。\n本当によろしいですか？", kErase,
                 IDI_EXCLAMATION, true);
  tool.ExpectBox(L"消去が完了しました。", kErase, IDI_ASTERISK);
  EXPECT_TRUE(WaitUntil([&] { return tool.ListLines(IDC_RECORD_LIST).empty(); }, 3000));
  EXPECT_FALSE(Exists(user.ReplayPath("r710.replay")) || Exists(user.ReplayPath("r745.replay")));
  const auto empty = ReadAll(TestDataPath("highscore/empty-table.ee"));
  EXPECT_EQ(ReadAll(user.VendorPath("qlanb.ee")), empty);
  EXPECT_EQ(ReadAll(user.VendorPath("qlanc.ee")), empty);
  tool.End(IDOK);
}

}  // namespace
}  // namespace qlan::e2e
