// The record list lines built from the replay folder, and every row of both label tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "records/record_list.h"
#include "replay_bytes.h"
#include "support/fake_window.h"
#include "support/temp_env.h"
#include "ui/resource.h"

namespace qlan {
namespace {

using test::FakeWindow;
using test::PlaceReplay;
using test::UserDataFixture;
using Lines = std::vector<std::string>;

TEST(RecordListRebuild, ValidReplaysGiveTheirLinesInRouteOrder) {
  UserDataFixture user;
  PlaceReplay(user, "replays/good/r745.replay", 745);
  PlaceReplay(user, "replays/good/r712.replay", 712);
  PlaceReplay(user, "replays/good/r710.replay", 710);
  // Rejected files and a folder with a replay's name have no line.
  PlaceReplay(user, "replays/bad/lowercase-magic-r710.replay", 711);
  PlaceReplay(user, "replays/bad/route713-as-r712.replay", 716);
  PlaceReplay(user, "replays/bad/bad-checksum-r710.replay", 714);
  PlaceReplay(user, "replays/bad/short-header-r710.replay", 720);
  PlaceReplay(user, "replays/bad/huge-length-r710.replay", 730);
  test::MakeFolder(user.ReplayPath("r740.replay"));
  FakeWindow window;
  RebuildRecordList(window);
  EXPECT_EQ(
      window.lists[IDC_RECORD_LIST],
      (Lines{"R 710:  45,678m  2'03.06", "R 712:       0m  0'00.00", "R 745:  3,456km  1:23'20"}));
  EXPECT_EQ(window.GetListSelection(IDC_RECORD_LIST), 0);
  // Entry k belongs to line k.
  ASSERT_EQ(g_recordList.count, 3);
  EXPECT_EQ(g_recordList.entries[0].routeIndex, 0);
  EXPECT_EQ(g_recordList.entries[1].routeIndex, 2);
  EXPECT_EQ(g_recordList.entries[2].routeIndex, 35);
  EXPECT_EQ(g_recordList.entries[2].time, 300000u);
  EXPECT_EQ(g_recordList.entries[2].distance, 3456789u);
}

TEST(RecordListRebuild, AllFortyRoutesFit) {
  UserDataFixture user;
  test::MakeFolder(user.ReplayPath());
  for (std::uint32_t route = 710; route < 750; ++route) {
    test::WriteAll(user.ReplayPath(test::ReplayName(route)),
                   test::HeaderOnlyReplay(4294967295u, 4294967295u, route));
  }
  FakeWindow window;
  RebuildRecordList(window);
  const Lines& lines = window.lists[IDC_RECORD_LIST];
  ASSERT_EQ(lines.size(), 40u);
  EXPECT_EQ(lines.front(), "R 710:   4294Mm  828d12h");
  EXPECT_EQ(lines.back(), "R 749:   4294Mm  828d12h");
}

struct Label {
  std::uint32_t value;
  const char* text;
};

TEST(Labels, EveryRowAtItsBoundaries) {
  const Label distances[] = {
      {0, "     0m"},        {999, "   999m"},       {1000, " 1,000m"},
      {99999, "99,999m"},    {100000, "100.0km"},    {999999, "999.9km"},
      {1000000, "1,000km"},  {9999999, "9,999km"},   {10000000, "10000km"},
      {99999999, "99999km"}, {100000000, "  100Mm"}, {4294967295u, " 4294Mm"},
  };
  for (const Label& row : distances) EXPECT_STREQ(FormatDistance(row.value), row.text) << row.value;
  const Label times[] = {
      {0, " 0'00.00"},           {1, " 0'00.01"},         {59, " 0'00.98"},
      {60, " 0'01.00"},          {215999, "59'59.98"},    {216000, " 1:00'00"},
      {20735999, "95:59'59"},    {20736000, " 4d 0:00"},  {30000000, " 5d18:53"},
      {518399999, "99d23:59"},   {518400000, " 100d 0h"}, {600000000, " 115d17h"},
      {4294967295u, " 828d12h"},
  };
  for (const Label& row : times) EXPECT_STREQ(FormatTime(row.value), row.text) << row.value;
  // Hundredths take only the sixtieth steps.
  const char* hundredths[] = {"00", "01", "03", "05", "06", "08"};
  for (std::uint32_t k = 0; k < 6; ++k)
    EXPECT_EQ(std::string(FormatTime(k)).substr(6), hundredths[k]) << k;
}

TEST(Labels, EachKeepsItsOwnText) {
  const char* distance = FormatDistance(45678);
  const char* time = FormatTime(7384);
  EXPECT_NE(distance, time);
  EXPECT_EQ(FormatDistance(789), distance);
  EXPECT_STREQ(distance, "   789m");
  EXPECT_STREQ(time, " 2'03.06");
}

}  // namespace
}  // namespace qlan
