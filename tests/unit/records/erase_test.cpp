// Erasing all records: the deletion itself and the sequence behind the erase button, with
// its questions, closing message, high-score files and rebuilt list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "records/erase.h"
#include "records/record_list.h"
#include "replay_bytes.h"
#include "support/fake_window.h"
#include "support/temp_env.h"
#include "ui/resource.h"

namespace qlan {
namespace {

using test::Exists;
using test::FakeWindow;
using test::MakeFolder;
using test::PlaceReplay;
using test::ReadAll;
using test::TempFolder;
using test::TestDataPath;
using test::UserDataFixture;
using test::WriteAll;

const char kCaption[] = "記録の消去";
const char kFirst[] = "この操作を行うとリプレイとハイスコアが全て消去されます。\nよろしいですか？";
const char kSecond[] = "いちど消去すると元に戻すことはできません。\n本当によろしいですか？";
const char kDone[] = "消去が完了しました。";
const char kError[] = "消去中にエラーが発生しました。\n一部の記録が残った可能性があります。";
constexpr unsigned kQuestionStyle = 0x1 | 0x30 | 0x10000;  // OK/Cancel, exclamation, foreground
constexpr unsigned kClosingStyle = 0x40;                   // information, OK

std::vector<std::uint8_t> EmptyTableFile() { return ReadAll(TestDataPath("highscore/empty-table.ee")); }

// Replays for 710 and 745 and old high-score files that an erase would replace.
struct ErasableUser {
  ErasableUser() {
    PlaceReplay(user, "replays/good/r710.replay", 710);
    PlaceReplay(user, "replays/good/r745.replay", 745);
    WriteAll(user.VendorPath("qlanb.ee"), oldB);
    WriteAll(user.VendorPath("qlanc.ee"), oldC);
  }
  UserDataFixture user;
  std::vector<std::uint8_t> oldB = std::vector<std::uint8_t>(64, 0xB0);
  std::vector<std::uint8_t> oldC = std::vector<std::uint8_t>(64, 0xC0);
};

void ExpectQuestion(const test::ShownMessage& m, const char* text) {
  EXPECT_EQ(m.text, text);
  EXPECT_EQ(m.caption, kCaption);
  EXPECT_EQ(m.style, kQuestionStyle);
  EXPECT_TRUE(m.owned);
}

void ExpectClosing(const test::ShownMessage& m, const char* text) {
  EXPECT_EQ(m.text, text);
  EXPECT_EQ(m.caption, kCaption);
  EXPECT_EQ(m.style, kClosingStyle);
  EXPECT_TRUE(m.owned);
}

// ---- EraseReplays ----

std::string InFolder(const std::string& folder, const char* name) {
  std::string path = folder;
  path.push_back(test::Separator());
  path.append(name);
  return path;
}

TEST(EraseReplayFiles, DeletesEveryReplayWhateverItsName) {
  TempFolder dir;
  for (const char* name : {"r710.replay", "r711.replay", "extra.replay", "UPPER.REPLAY"}) {
    WriteAll(dir.Join(name), {1, 2, 3});
  }
  EXPECT_EQ(EraseReplays(dir.path().c_str()), 0);
  for (const char* name : {"r710.replay", "r711.replay", "extra.replay", "UPPER.REPLAY"}) {
    EXPECT_FALSE(Exists(dir.Join(name))) << name;
  }
}

TEST(EraseReplayFiles, LeavesOtherFilesAndSubFoldersAlone) {
  TempFolder dir;
  WriteAll(dir.Join("notes.replay.txt"), {1});
  WriteAll(dir.Join("replay"), {1});
  WriteAll(dir.Join("extra.replay"), {1});
  MakeFolder(dir.Join("x.replay"));
  const std::string inner = InFolder(dir.Join("x.replay"), "inner.replay");
  WriteAll(inner, {1});
  EXPECT_EQ(EraseReplays(dir.path().c_str()), 0);
  EXPECT_TRUE(Exists(dir.Join("notes.replay.txt")));
  EXPECT_TRUE(Exists(dir.Join("replay")));
  EXPECT_FALSE(Exists(dir.Join("extra.replay")));
  EXPECT_TRUE(Exists(inner));
}

TEST(EraseReplayFiles, NothingToDeleteIsNotAFailure) {
  TempFolder dir;
  EXPECT_EQ(EraseReplays(dir.path().c_str()), 0);
  WriteAll(dir.Join("notes.replay.txt"), {1});
  EXPECT_EQ(EraseReplays(dir.path().c_str()), 0);
  MakeFolder(dir.Join("only-a-folder.replay"));
  EXPECT_EQ(EraseReplays(dir.path().c_str()), 0);
}

TEST(EraseReplayFiles, MissingFolderCannotBeSearched) {
  TempFolder dir;
  EXPECT_EQ(EraseReplays(dir.Join("missing").c_str()), -1);
  EXPECT_EQ(EraseReplays(nullptr), -1);
}

TEST(EraseReplayFiles, FailedDeletionIsReportedAndTheOthersStillGo) {
  TempFolder dir;
  WriteAll(dir.Join("r710.replay"), {1});
  WriteAll(dir.Join("r711.replay"), {1});
  WriteAll(dir.Join("r712.replay"), {1});
  test::SetReadOnly(dir.Join("r711.replay"), true);
  EXPECT_EQ(EraseReplays(dir.path().c_str()), -10);
  EXPECT_FALSE(Exists(dir.Join("r710.replay")));
  EXPECT_TRUE(Exists(dir.Join("r711.replay")));
  EXPECT_FALSE(Exists(dir.Join("r712.replay")));
}

// ---- the erase sequence ----

TEST(EraseSequence, CancelAtTheFirstQuestionDeletesNothingAndRebuilds) {
  ErasableUser u;
  FakeWindow window;
  window.answers = {kIdCancel};
  RunEraseSequence(window);
  ASSERT_EQ(window.messages.size(), 1u);
  ExpectQuestion(window.messages[0], kFirst);
  EXPECT_TRUE(Exists(u.user.ReplayPath("r710.replay")));
  EXPECT_EQ(ReadAll(u.user.VendorPath("qlanb.ee")), u.oldB);
  EXPECT_EQ(window.lists[IDC_RECORD_LIST].size(), 2u);
  EXPECT_EQ(window.GetListSelection(IDC_RECORD_LIST), 0);
}

TEST(EraseSequence, CancelAtTheSecondQuestionDeletesNothingAndRebuilds) {
  ErasableUser u;
  FakeWindow window;
  window.answers = {kIdOk, kIdCancel};
  RunEraseSequence(window);
  ASSERT_EQ(window.messages.size(), 2u);
  ExpectQuestion(window.messages[0], kFirst);
  ExpectQuestion(window.messages[1], kSecond);
  EXPECT_TRUE(Exists(u.user.ReplayPath("r745.replay")));
  EXPECT_EQ(ReadAll(u.user.VendorPath("qlanc.ee")), u.oldC);
  EXPECT_EQ(window.lists[IDC_RECORD_LIST],
            (std::vector<std::string>{"R 710:  45,678m  2'03.06", "R 745:  3,456km  1:23'20"}));
}

TEST(EraseSequence, ConfirmedEraseDeletesResetsReportsAndEmptiesTheList) {
  ErasableUser u;
  FakeWindow window;
  window.lists[IDC_RECORD_LIST] = {"stale"};
  window.answers = {kIdOk, kIdOk, kIdOk};
  RunEraseSequence(window);
  ASSERT_EQ(window.messages.size(), 3u);
  ExpectQuestion(window.messages[0], kFirst);
  ExpectQuestion(window.messages[1], kSecond);
  ExpectClosing(window.messages[2], kDone);
  EXPECT_FALSE(Exists(u.user.ReplayPath("r710.replay")));
  EXPECT_FALSE(Exists(u.user.ReplayPath("r745.replay")));
  EXPECT_EQ(ReadAll(u.user.VendorPath("qlanb.ee")), EmptyTableFile());
  EXPECT_EQ(ReadAll(u.user.VendorPath("qlanc.ee")), EmptyTableFile());
  EXPECT_TRUE(window.lists[IDC_RECORD_LIST].empty());
  EXPECT_EQ(window.GetListSelection(IDC_RECORD_LIST), -1);
  EXPECT_EQ(g_recordList.count, 0);
}

TEST(EraseSequence, NoReplaysStillResetsTheHighScoresTwiceInARow) {
  UserDataFixture user;
  MakeFolder(user.VendorPath());
  WriteAll(user.VendorPath("qlanb.ee"), std::vector<std::uint8_t>(64, 0xB0));
  for (int round = 0; round < 2; ++round) {
    FakeWindow window;
    window.answers = {kIdOk, kIdOk};
    RunEraseSequence(window);
    ASSERT_EQ(window.messages.size(), 3u);
    ExpectClosing(window.messages[2], kDone);
    EXPECT_EQ(ReadAll(user.VendorPath("qlanb.ee")), EmptyTableFile()) << round;
    EXPECT_EQ(ReadAll(user.VendorPath("qlanc.ee")), EmptyTableFile()) << round;
  }
}

TEST(EraseSequence, FailedDeletionKeepsTheHighScoresAndSaysSo) {
  ErasableUser u;
  PlaceReplay(u.user, "replays/good/r712.replay", 712);
  test::SetReadOnly(u.user.ReplayPath("r712.replay"), true);
  FakeWindow window;
  window.answers = {kIdOk, kIdOk};
  RunEraseSequence(window);
  ASSERT_EQ(window.messages.size(), 3u);
  ExpectClosing(window.messages[2], kError);
  EXPECT_FALSE(Exists(u.user.ReplayPath("r710.replay")));
  EXPECT_FALSE(Exists(u.user.ReplayPath("r745.replay")));
  EXPECT_TRUE(Exists(u.user.ReplayPath("r712.replay")));
  EXPECT_EQ(ReadAll(u.user.VendorPath("qlanb.ee")), u.oldB);
  EXPECT_EQ(ReadAll(u.user.VendorPath("qlanc.ee")), u.oldC);
  // The surviving replay is still listed.
  EXPECT_EQ(window.lists[IDC_RECORD_LIST], (std::vector<std::string>{"R 712:       0m  0'00.00"}));
  test::SetReadOnly(u.user.ReplayPath("r712.replay"), false);
}

TEST(EraseSequence, WriteProtectedFirstHighScoreFileLeavesTheSecondAsItWas) {
  ErasableUser u;
  test::SetReadOnly(u.user.VendorPath("qlanb.ee"), true);
  FakeWindow window;
  window.answers = {kIdOk, kIdOk};
  RunEraseSequence(window);
  ASSERT_EQ(window.messages.size(), 3u);
  ExpectClosing(window.messages[2], kError);
  EXPECT_FALSE(Exists(u.user.ReplayPath("r710.replay")));
  EXPECT_EQ(ReadAll(u.user.VendorPath("qlanb.ee")), u.oldB);
  EXPECT_EQ(ReadAll(u.user.VendorPath("qlanc.ee")), u.oldC);
  test::SetReadOnly(u.user.VendorPath("qlanb.ee"), false);
}

TEST(EraseSequence, UnusableReplayFolderStillResetsTheHighScores) {
  UserDataFixture user;
  MakeFolder(user.VendorPath());
  WriteAll(user.ReplayPath(), {'x'});  // a file where the replay folder belongs
  FakeWindow window;
  window.answers = {kIdOk, kIdOk};
  RunEraseSequence(window);
  ASSERT_EQ(window.messages.size(), 3u);
  ExpectClosing(window.messages[2], kDone);
  EXPECT_EQ(ReadAll(user.VendorPath("qlanb.ee")), EmptyTableFile());
  EXPECT_TRUE(window.lists[IDC_RECORD_LIST].empty());
}

}  // namespace
}  // namespace qlan
