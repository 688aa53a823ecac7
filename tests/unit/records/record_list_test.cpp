// Every row of both label tables, and erasing all records: which files go, and the high
// scores emptied only when every replay went. (Which names match: the Windows-only tests.)
#include "records/record_list.h"

#include <gtest/gtest.h>

#include "records/erase.h"
#include "support/temp_env.h"

namespace qlan::test {
namespace {

TEST(Labels, EveryRowAtItsBoundariesEachInItsOwnBuffer) {
  const struct {
    std::uint32_t value;
    const char *distance, *time;
  } rows[] = {// clang-format off
      {0, "     0m", " 0'00.00"}, {1, "     1m", " 0'00.01"}, {5, "     5m", " 0'00.08"},
      {59, "    59m", " 0'00.98"}, {999, "   999m", " 0'16.65"}, {1000, " 1,000m", " 0'16.66"},
      {99999, "99,999m", "27'46.65"}, {100000, "100.0km", "27'46.66"},
      {215999, "215.9km", "59'59.98"}, {216000, "216.0km", " 1:00'00"},
      {999999, "999.9km", " 4:37'46"}, {1000000, "1,000km", " 4:37'46"},
      {9999999, "9,999km", "46:17'46"}, {10000000, "10000km", "46:17'46"},
      {20735999, "20735km", "95:59'59"}, {20736000, "20736km", " 4d 0:00"},
      {99999999, "99999km", "19d 6:57"}, {100000000, "  100Mm", "19d 6:57"},
      {518399999, "  518Mm", "99d23:59"}, {518400000, "  518Mm", " 100d 0h"},
      {4294967295u, " 4294Mm", " 828d12h"}};
  // clang-format on
  for (const auto& row : rows) {
    const char *distance = FormatDistance(row.value), *time = FormatTime(row.value);
    EXPECT_STREQ(distance, row.distance) << row.value;
    EXPECT_STREQ(time, row.time) << row.value;
  }
}

TEST(EraseAllRecords, HighScoresAreEmptiedOnlyWhenEveryReplayWent) {
  UserDataFixture user;
  const auto empty = ReadAll(TestDataPath("highscore/empty-table.ee"));
  const Bytes old(64, 0xB0);
  const auto scores = [&] {
    return ReadAll(user.VendorPath("qlanb.ee")) == ReadAll(user.VendorPath("qlanc.ee"));
  };
  PlaceReplay(user, "replays/good/r710.replay", 710);
  PlaceReplay(user, "replays/good/r712.replay", 712);
  for (const char* name : {"qlanb.ee", "qlanc.ee"}) WriteAll(user.VendorPath(name), old);
  SetReadOnly(user.ReplayPath("r712.replay"), true);
  EXPECT_EQ(EraseAllRecords(), kEraseDeleteFailed);
  EXPECT_FALSE(Exists(user.ReplayPath("r710.replay")));
  EXPECT_TRUE(scores() && ReadAll(user.VendorPath("qlanb.ee")) == old);
  SetReadOnly(user.ReplayPath("r712.replay"), false);
  SetReadOnly(user.VendorPath("qlanb.ee"), true);  // the first file fails: no second
  EXPECT_NE(EraseAllRecords(), 0);
  EXPECT_EQ(ReadAll(user.VendorPath("qlanc.ee")), old);
  SetReadOnly(user.VendorPath("qlanb.ee"), false);
  EXPECT_EQ(EraseAllRecords(), 0);
  EXPECT_TRUE(scores() && ReadAll(user.VendorPath("qlanb.ee")) == empty);
  UserDataFixture other;  // a file where the replay folder belongs: the scores still go
  MakeFolder(other.VendorPath());
  WriteAll(other.ReplayPath(), {'x'});
  EXPECT_EQ(EraseAllRecords(), 0);
  EXPECT_EQ(ReadAll(other.VendorPath("qlanb.ee")), empty);
  EXPECT_EQ(EraseReplays(other.VendorPath("missing").c_str()), kEraseSearchFailed);
}

}  // namespace
}  // namespace qlan::test
