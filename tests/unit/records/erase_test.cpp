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
using test::ReadAll;
using test::TempFolder;
using test::WriteAll;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

const char kFirst[] = "この操作を行うとリプレイとハイスコアが全て消去されます。\nよろしいですか？";
const char kSecond[] = "いちど消去すると元に戻すことはできません。\n本当によろしいですか？";
const char kDone[] = "消去が完了しました。";
const char kError[] = "消去中にエラーが発生しました。\n一部の記録が残った可能性があります。";

TEST(EraseReplayFiles, DeletesEveryReplayFileAndNothingElse) {
  TempFolder dir;
  for (const char* name :
       {"r710.replay", "extra.replay", "UPPER.REPLAY", "notes.replay.txt", "replay"}) {
    WriteAll(dir.Join(name), {1});
  }
  test::MakeFolder(dir.Join("x.replay"));
  const std::string inner = dir.Join("x.replay") + test::Separator() + "inner.replay";
  WriteAll(inner, {1});
  EXPECT_EQ(EraseReplays(dir.path().c_str()), 0);
  for (const char* name : {"r710.replay", "extra.replay", "UPPER.REPLAY"})
    EXPECT_FALSE(Exists(dir.Join(name))) << name;
  EXPECT_TRUE(Exists(dir.Join("notes.replay.txt")));
  EXPECT_TRUE(Exists(dir.Join("replay")));
  EXPECT_TRUE(Exists(inner));
  // Nothing (more) to delete is not a failure.
  EXPECT_EQ(EraseReplays(dir.path().c_str()), 0);
  TempFolder empty;
  EXPECT_EQ(EraseReplays(empty.path().c_str()), 0);
}

TEST(EraseReplayFiles, UnsearchableFolderIsMinusOneFailedDeletionMinusTen) {
  TempFolder dir;
  EXPECT_EQ(EraseReplays(dir.Join("missing").c_str()), -1);
  EXPECT_EQ(EraseReplays(nullptr), -1);
  for (const char* name : {"r710.replay", "r711.replay", "r712.replay"})
    WriteAll(dir.Join(name), {1});
  test::SetReadOnly(dir.Join("r711.replay"), true);
  EXPECT_EQ(EraseReplays(dir.path().c_str()), -10);
  EXPECT_FALSE(Exists(dir.Join("r710.replay")));
  EXPECT_TRUE(Exists(dir.Join("r711.replay")));
  EXPECT_FALSE(Exists(dir.Join("r712.replay")));
}

// Replays for 710 and 745 and old high-score files that an erase would replace.
class EraseSequence : public ::testing::Test {
 protected:
  EraseSequence() {
    test::PlaceReplay(user_, "replays/good/r710.replay", 710);
    test::PlaceReplay(user_, "replays/good/r745.replay", 745);
    WriteAll(user_.VendorPath("qlanb.ee"), oldB_);
    WriteAll(user_.VendorPath("qlanc.ee"), oldC_);
  }
  // Runs the sequence on a list with a stale line; checks the questions and, when one is
  // shown, the closing message. Returns the rebuilt list.
  Lines Run(std::vector<int> answers, const char* closing) {
    test::FakeWindow window;
    window.lists[IDC_RECORD_LIST] = {"stale"};
    window.selection[IDC_RECORD_LIST] = 0;
    window.answers.assign(answers.begin(), answers.end());
    RunEraseSequence(window);
    EXPECT_EQ(window.messages.size(),
              std::min<std::size_t>(answers.size(), 2) + (closing != nullptr ? 1 : 0));
    for (std::size_t i = 0; i < window.messages.size(); ++i) {
      const test::ShownMessage& m = window.messages[i];
      EXPECT_EQ(m.text, i == 2 ? closing : i == 0 ? kFirst : kSecond);
      EXPECT_EQ(m.caption, "記録の消去");
      // OK/Cancel, exclamation, foreground; then information, OK.
      EXPECT_EQ(m.style, i < 2 ? 0x1u | 0x30u | 0x10000u : 0x40u);
      EXPECT_TRUE(m.owned);
    }
    const Lines& list = window.lists[IDC_RECORD_LIST];
    EXPECT_EQ(window.GetListSelection(IDC_RECORD_LIST), list.empty() ? -1 : 0);
    EXPECT_EQ(static_cast<std::size_t>(g_recordList.count), list.size());
    return list;
  }
  void ExpectHighScores(const Bytes& b, const Bytes& c) {
    EXPECT_EQ(ReadAll(user_.VendorPath("qlanb.ee")), b);
    EXPECT_EQ(ReadAll(user_.VendorPath("qlanc.ee")), c);
  }

  test::UserDataFixture user_;
  const Bytes oldB_ = Bytes(64, 0xB0);
  const Bytes oldC_ = Bytes(64, 0xC0);
  const Bytes empty_ = ReadAll(test::TestDataPath("highscore/empty-table.ee"));
  const Lines both_ = {"R 710:  45,678m  2'03.06", "R 745:  3,456km  1:23'20"};
};

TEST_F(EraseSequence, CancelAtEitherQuestionDeletesNothingAndStillRebuilds) {
  EXPECT_EQ(Run({kIdCancel}, nullptr), both_);
  EXPECT_EQ(Run({kIdOk, kIdCancel}, nullptr), both_);
  ExpectHighScores(oldB_, oldC_);
}

TEST_F(EraseSequence, ConfirmedEraseDeletesResetsReportsAndEmptiesTheListEvenWithNoReplays) {
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(Run({kIdOk, kIdOk}, kDone), Lines{});
    EXPECT_FALSE(Exists(user_.ReplayPath("r710.replay")));
    EXPECT_FALSE(Exists(user_.ReplayPath("r745.replay")));
    ExpectHighScores(empty_, empty_);
    WriteAll(user_.VendorPath("qlanb.ee"), oldB_);
  }
}

TEST_F(EraseSequence, FailedDeletionOrWriteProtectedFirstFileKeepsBothHighScoresAndSaysSo) {
  test::PlaceReplay(user_, "replays/good/r712.replay", 712);
  test::SetReadOnly(user_.ReplayPath("r712.replay"), true);
  EXPECT_EQ(Run({kIdOk, kIdOk}, kError),
            Lines{"R 712:       0m  0'00.00"});  // the survivor stays listed
  ExpectHighScores(oldB_, oldC_);
  test::SetReadOnly(user_.ReplayPath("r712.replay"), false);

  test::SetReadOnly(user_.VendorPath("qlanb.ee"), true);
  EXPECT_EQ(Run({kIdOk, kIdOk}, kError), Lines{});
  ExpectHighScores(oldB_, oldC_);
  test::SetReadOnly(user_.VendorPath("qlanb.ee"), false);
}

TEST(EraseSequenceFolder, UnusableReplayFolderStillResetsTheHighScores) {
  test::UserDataFixture user;
  test::MakeFolder(user.VendorPath());
  WriteAll(user.ReplayPath(), {'x'});  // a file where the replay folder belongs
  test::FakeWindow window;
  window.answers = {kIdOk, kIdOk};
  RunEraseSequence(window);
  ASSERT_EQ(window.messages.size(), 3u);
  EXPECT_EQ(window.messages[2].text, kDone);
  EXPECT_EQ(ReadAll(user.VendorPath("qlanb.ee")),
            ReadAll(test::TestDataPath("highscore/empty-table.ee")));
}

}  // namespace
}  // namespace qlan
