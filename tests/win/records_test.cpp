// Local records under Windows file semantics: replays held open by the game, replays that
// cannot be deleted, and what the "*.replay" search matches.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/wide_win32.h"
#include "records/erase.h"
#include "records/record_list.h"
#include "records/replay.h"
#include "support/fake_window.h"
#include "support/temp_env.h"
#include "ui/records_flow.h"
#include "ui/resource.h"

namespace qlan {
namespace {

using test::Exists;
using test::FakeWindow;
using test::MakeFolder;
using test::ReadAll;
using test::TempFolder;
using test::TestDataPath;
using test::UserDataFixture;
using test::WriteAll;

// A handle that another program (the game) holds on a file.
class HeldFile {
 public:
  HeldFile(const std::string& path, DWORD access, DWORD share)
      : handle_(CreateFileW(Widen(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HeldFile() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

void Place(const UserDataFixture& user, const char* known, const char* name) {
  MakeFolder(user.ReplayPath());
  WriteAll(user.ReplayPath(name), ReadAll(TestDataPath(known)));
}

const char kError[] = "消去中にエラーが発生しました。\n一部の記録が残った可能性があります。";
const char kDone[] = "消去が完了しました。";

TEST(WinRecords, ReplayHeldOpenForWritingIsASharingViolationWithNoLine) {
  UserDataFixture user;
  Place(user, "replays/good/r710.replay", "r710.replay");
  Place(user, "replays/good/r745.replay", "r745.replay");
  HeldFile game(user.ReplayPath("r710.replay"), GENERIC_WRITE, FILE_SHARE_READ);
  ASSERT_TRUE(game.valid());
  EXPECT_EQ(ReadReplaySummary(710), 32);
  FakeWindow window;
  RebuildRecordList(window);
  EXPECT_EQ(window.lists[IDC_RECORD_LIST], (std::vector<std::string>{"R 745:  3,456km  1:23'20"}));
}

TEST(WinRecords, ReplayHeldOpenForReadingStillReads) {
  UserDataFixture user;
  Place(user, "replays/good/r710.replay", "r710.replay");
  HeldFile reader(user.ReplayPath("r710.replay"), GENERIC_READ, FILE_SHARE_READ);
  ASSERT_TRUE(reader.valid());
  EXPECT_EQ(ReadReplaySummary(710), 0);
}

TEST(WinRecords, UndeletableReplayKeepsTheHighScoresAndTheOthersGo) {
  UserDataFixture user;
  Place(user, "replays/good/r710.replay", "r710.replay");
  Place(user, "replays/good/r712.replay", "r712.replay");
  Place(user, "replays/good/r745.replay", "r745.replay");
  const std::vector<std::uint8_t> oldB(64, 0xB0);
  const std::vector<std::uint8_t> oldC(64, 0xC0);
  WriteAll(user.VendorPath("qlanb.ee"), oldB);
  WriteAll(user.VendorPath("qlanc.ee"), oldC);
  FakeWindow window;
  window.answers = {kIdOk, kIdOk};
  {
    // Open without delete sharing: DeleteFileW fails while this handle lives.
    HeldFile game(user.ReplayPath("r712.replay"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(game.valid());
    RunEraseSequence(window);
  }
  ASSERT_EQ(window.messages.size(), 3u);
  EXPECT_EQ(window.messages[2].text, kError);
  EXPECT_EQ(window.messages[2].caption, "記録の消去");
  EXPECT_EQ(window.messages[2].style, 0x40u);
  EXPECT_FALSE(Exists(user.ReplayPath("r710.replay")));
  EXPECT_TRUE(Exists(user.ReplayPath("r712.replay")));
  EXPECT_FALSE(Exists(user.ReplayPath("r745.replay")));
  EXPECT_EQ(ReadAll(user.VendorPath("qlanb.ee")), oldB);
  EXPECT_EQ(ReadAll(user.VendorPath("qlanc.ee")), oldC);
  EXPECT_EQ(window.lists[IDC_RECORD_LIST], (std::vector<std::string>{"R 712:       0m  0'00.00"}));
}

TEST(WinRecords, ReadOnlyReplayIsNotDeleted) {
  TempFolder dir;
  WriteAll(dir.Join("r710.replay"), {1});
  WriteAll(dir.Join("r711.replay"), {1});
  test::SetReadOnly(dir.Join("r711.replay"), true);
  EXPECT_EQ(EraseReplays(dir.path().c_str()), kEraseDeleteFailed);
  EXPECT_FALSE(Exists(dir.Join("r710.replay")));
  EXPECT_TRUE(Exists(dir.Join("r711.replay")));
}

TEST(WinRecords, SearchMatchesOnlyReplayFilesAndEntersNoFolder) {
  TempFolder dir;
  MakeFolder(dir.Join("x.replay"));
  WriteAll(dir.Join("x.replay") + "\\inner.replay", {1});
  WriteAll(dir.Join("notes.replay.txt"), {1});
  WriteAll(dir.Join("extra.replay"), {1});
  WriteAll(dir.Join("Mixed.RePlay"), {1});
  WriteAll(dir.Join("r710.replay.bak"), {1});
  EXPECT_EQ(EraseReplays(dir.path().c_str()), 0);
  EXPECT_TRUE(Exists(dir.Join("x.replay") + "\\inner.replay"));
  EXPECT_TRUE(Exists(dir.Join("notes.replay.txt")));
  EXPECT_TRUE(Exists(dir.Join("r710.replay.bak")));
  EXPECT_FALSE(Exists(dir.Join("extra.replay")));
  EXPECT_FALSE(Exists(dir.Join("Mixed.RePlay")));
}

TEST(WinRecords, EmptyAndMissingReplayFolders) {
  TempFolder dir;
  EXPECT_EQ(EraseReplays(dir.path().c_str()), 0);
  EXPECT_EQ(EraseReplays(dir.Join("missing").c_str()), kEraseSearchFailed);
  // Through the dialog: nothing to delete still resets both high-score files.
  UserDataFixture user;
  FakeWindow window;
  window.answers = {kIdOk, kIdOk};
  RunEraseSequence(window);
  ASSERT_EQ(window.messages.size(), 3u);
  EXPECT_EQ(window.messages[2].text, kDone);
  const auto empty = ReadAll(TestDataPath("highscore/empty-table.ee"));
  EXPECT_EQ(ReadAll(user.VendorPath("qlanb.ee")), empty);
  EXPECT_EQ(ReadAll(user.VendorPath("qlanc.ee")), empty);
}

TEST(WinRecords, MissingReplayAndFolderCodes) {
  UserDataFixture user;
  EXPECT_EQ(ReadReplaySummary(710), 2);  // the folder is created on the way, so not 3
  EXPECT_TRUE(Exists(user.ReplayPath()));
  MakeFolder(user.ReplayPath("r711.replay"));
  EXPECT_EQ(ReadReplaySummary(711), 5);  // a folder by the file's name
}

}  // namespace
}  // namespace qlan
