// Erasing all records: which files go, and the high-score files written empty only when
// every replay went.
#include "records/erase.h"

#include <gtest/gtest.h>

#include "replay_bytes.h"
#include "support/temp_env.h"

namespace qlan {
namespace {

using test::Exists;
using test::WriteAll;

TEST(EraseReplays, DeletesEveryReplayFileAndNothingElse) {
  test::TempFolder dir;
  for (const char* name : {"r710.replay", "UPPER.REPLAY", "notes.replay.txt", "replay"})
    WriteAll(dir.Join(name), {1});
  test::MakeFolder(dir.Join("x.replay"));
  const std::string inner = dir.Join("x.replay") + test::Separator() + "inner.replay";
  WriteAll(inner, {1});
  EXPECT_EQ(EraseReplays(dir.path().c_str()), 0);
  EXPECT_FALSE(Exists(dir.Join("r710.replay")) || Exists(dir.Join("UPPER.REPLAY")));
  EXPECT_TRUE(Exists(dir.Join("notes.replay.txt")) && Exists(dir.Join("replay")) && Exists(inner));
  EXPECT_EQ(EraseReplays(dir.path().c_str()), 0);  // nothing (more) to delete
  EXPECT_EQ(EraseReplays(dir.Join("missing").c_str()), kEraseSearchFailed);
  EXPECT_EQ(EraseReplays(nullptr), kEraseSearchFailed);
}

TEST(EraseAllRecords, HighScoresAreEmptiedOnlyWhenEveryReplayWent) {
  test::UserDataFixture user;
  const auto empty = test::ReadAll(test::TestDataPath("highscore/empty-table.ee"));
  const std::vector<std::uint8_t> old(64, 0xB0);
  test::PlaceReplay(user, "replays/good/r710.replay", 710);
  test::PlaceReplay(user, "replays/good/r712.replay", 712);
  for (const char* name : {"qlanb.ee", "qlanc.ee"}) WriteAll(user.VendorPath(name), old);
  test::SetReadOnly(user.ReplayPath("r712.replay"), true);
  EXPECT_EQ(EraseAllRecords(), kEraseDeleteFailed);
  EXPECT_FALSE(Exists(user.ReplayPath("r710.replay")));
  EXPECT_EQ(test::ReadAll(user.VendorPath("qlanb.ee")), old);
  test::SetReadOnly(user.ReplayPath("r712.replay"), false);
  test::SetReadOnly(user.VendorPath("qlanb.ee"), true);  // the first file fails: no second
  EXPECT_NE(EraseAllRecords(), 0);
  EXPECT_EQ(test::ReadAll(user.VendorPath("qlanc.ee")), old);
  test::SetReadOnly(user.VendorPath("qlanb.ee"), false);
  EXPECT_EQ(EraseAllRecords(), 0);
  for (const char* name : {"qlanb.ee", "qlanc.ee"})
    EXPECT_EQ(test::ReadAll(user.VendorPath(name)), empty) << name;
  EXPECT_FALSE(Exists(user.ReplayPath("r712.replay")));
  test::TempFolder other;  // a file where the replay folder belongs: the scores still go
  test::ScopedEnv env("APPDATA", other.path());
  test::MakeFolder(other.Join("velmorn"));
  WriteAll(other.Join("velmorn") + test::Separator() + "qlan_rep", {'x'});
  EXPECT_EQ(EraseAllRecords(), 0);
  EXPECT_EQ(test::ReadAll(other.Join("velmorn") + test::Separator() + "qlanb.ee"), empty);
}

}  // namespace
}  // namespace qlan
