// Replay reading and validation against the known-answer files, the checksum against its
// bit-by-bit definition, and the payload array's capacity rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "app/text.h"
#include "records/checksum_reference.h"
#include "records/replay.h"
#include "records/replay_checksum.h"
#include "replay_bytes.h"
#include "support/temp_env.h"

namespace qlan {
namespace {

using test::MakeFolder;
using test::MakeReplay;
using test::PlaceReplay;
using test::ReadAll;
using test::ReplaySpec;
using test::TestDataPath;
using test::UserDataFixture;
using test::WriteAll;

struct KnownAnswer {
  const char* file;
  int route;
  int expected;
};

// The MANIFEST of the shared test data, row by row.
const KnownAnswer kKnownAnswers[] = {
    {"replays/good/r710.replay", 710, 0},
    {"replays/good/r745.replay", 745, 0},
    {"replays/good/r712.replay", 712, 0},
    {"replays/bad/route713-as-r712.replay", 712, -1},
    {"replays/bad/bad-checksum-r710.replay", 710, -8},
    {"replays/bad/lowercase-magic-r710.replay", 710, -4},
    {"replays/bad/short-header-r710.replay", 710, -16},
    {"replays/bad/short-payload-r710.replay", 710, -2},
    {"replays/bad/huge-length-r710.replay", 710, -2},
};

TEST(ReplayFiles, EveryKnownAnswerFileGivesItsListedResult) {
  for (const KnownAnswer& row : kKnownAnswers) {
    UserDataFixture user;
    PlaceReplay(user, row.file, row.route);
    EXPECT_EQ(ReadReplaySummary(row.route), row.expected) << row.file;
  }
}

TEST(ReplayFiles, ValidFilesGiveTheirTimeAndDistance) {
  UserDataFixture user;
  PlaceReplay(user, "replays/good/r710.replay", 710);
  PlaceReplay(user, "replays/good/r745.replay", 745);
  ASSERT_EQ(ReadReplaySummary(710), 0);
  EXPECT_EQ(LastReplayTime(), 7384u);
  EXPECT_EQ(LastReplayDistance(), 45678u);
  EXPECT_EQ(LastReplayHeader().route, 710u);
  EXPECT_EQ(LastReplayHeader().keptWord1, 7u);
  EXPECT_EQ(LastReplayHeader().keptWord2, 9u);
  EXPECT_EQ(LastReplayHeader().flags, 0x12340000u);
  EXPECT_EQ(LastReplayPayload().size(), 1001u);
  EXPECT_EQ(LastReplayPayload().capacity(), 1024u);
  ASSERT_EQ(ReadReplaySummary(745), 0);
  EXPECT_EQ(LastReplayTime(), 300000u);
  EXPECT_EQ(LastReplayDistance(), 3456789u);
  EXPECT_EQ(LastReplayHeader().flags, 0x400u);
  EXPECT_EQ(LastReplayPayload().size(), 300u);
  EXPECT_EQ(LastReplayPayload().capacity(), 512u);
}

TEST(ReplayFiles, PayloadStorageIsKeptWhileTheStepStaysTheSame) {
  UserDataFixture user;
  PlaceReplay(user, "replays/good/r710.replay", 710);
  PlaceReplay(user, "replays/good/r745.replay", 745);
  ASSERT_EQ(ReadReplaySummary(710), 0);
  const unsigned char* first = LastReplayPayload().data();
  ASSERT_EQ(ReadReplaySummary(710), 0);
  EXPECT_EQ(LastReplayPayload().data(), first);
  ASSERT_EQ(ReadReplaySummary(745), 0);  // 300 bytes: the capacity drops to 512
  EXPECT_EQ(LastReplayPayload().capacity(), 512u);
  // The payload of the file last read, byte for byte.
  const auto bytes = ReadAll(TestDataPath("replays/good/r745.replay"));
  ASSERT_EQ(LastReplayPayload().size(), 300u);
  EXPECT_TRUE(std::equal(bytes.begin() + 64, bytes.begin() + 364, LastReplayPayload().data()));
}

TEST(ReplayFiles, HeaderOnlyFileWithRouteAsChecksumIsValid) {
  UserDataFixture user;
  MakeFolder(user.ReplayPath());
  auto bytes = ReadAll(TestDataPath("replays/good/r712.replay"));
  bytes.resize(64);
  WriteAll(user.ReplayPath("r712.replay"), bytes);
  EXPECT_EQ(ReadReplaySummary(712), 0);
  EXPECT_EQ(LastReplayPayload().size(), 0u);
}

TEST(ReplayFiles, FilesCutInsideTheHeaderAreShortHeaders) {
  UserDataFixture user;
  MakeFolder(user.ReplayPath());
  const auto good = ReadAll(TestDataPath("replays/good/r710.replay"));
  for (std::size_t length : {0u, 2u, 4u, 5u, 8u, 60u, 63u}) {
    WriteAll(user.ReplayPath("r710.replay"), {good.begin(), good.begin() + static_cast<long>(length)});
    EXPECT_EQ(ReadReplaySummary(710), -16) << length;
  }
}

TEST(ReplayFiles, WordsReadBeforeAFailureStayInTheHeader) {
  UserDataFixture user;
  PlaceReplay(user, "replays/good/r745.replay", 745);
  ASSERT_EQ(ReadReplaySummary(745), 0);
  MakeFolder(user.ReplayPath());
  const auto good = ReadAll(TestDataPath("replays/good/r710.replay"));
  WriteAll(user.ReplayPath("r710.replay"), {good.begin(), good.begin() + 10});
  EXPECT_EQ(ReadReplaySummary(710), -16);
  EXPECT_EQ(LastReplayHeader().time, 7384u);      // from the cut file
  EXPECT_EQ(LastReplayHeader().distance, 3456789u);  // still from r745
}

TEST(ReplayFiles, AnyOtherMagicIsRejectedWithoutReadingOn) {
  UserDataFixture user;
  MakeFolder(user.ReplayPath());
  const auto good = ReadAll(TestDataPath("replays/good/r710.replay"));
  for (const char* magic : {"QLNr", "qLNR", "XLNR", "QLN\0", "RNLQ"}) {
    auto bytes = good;
    std::memcpy(bytes.data(), magic, 4);
    WriteAll(user.ReplayPath("r710.replay"), bytes);
    EXPECT_EQ(ReadReplaySummary(710), -4) << magic;
  }
  // Only the four magic bytes: the magic decides before the missing header does.
  WriteAll(user.ReplayPath("r710.replay"), {'q', 'l', 'n', 'r'});
  EXPECT_EQ(ReadReplaySummary(710), -4);
}

TEST(ReplayFiles, PayloadShorterThanItsLengthIsRejected) {
  UserDataFixture user;
  MakeFolder(user.ReplayPath());
  auto bytes = ReadAll(TestDataPath("replays/good/r710.replay"));
  bytes.resize(bytes.size() - 1);
  WriteAll(user.ReplayPath("r710.replay"), bytes);
  EXPECT_EQ(ReadReplaySummary(710), -2);
}

TEST(ReplayFiles, HugeLengthIsRejectedBeforeAnyRoomIsTaken) {
  UserDataFixture user;
  PlaceReplay(user, "replays/good/r712.replay", 712);
  ASSERT_EQ(ReadReplaySummary(712), 0);
  ASSERT_EQ(LastReplayPayload().capacity(), 256u);
  PlaceReplay(user, "replays/bad/huge-length-r710.replay", 710);
  EXPECT_EQ(ReadReplaySummary(710), -2);
  EXPECT_EQ(LastReplayPayload().capacity(), 256u);
  // Every length from 2^31 up to the largest is treated the same way.
  auto bytes = ReadAll(TestDataPath("replays/bad/huge-length-r710.replay"));
  for (int top : {0x80, 0xFF}) {
    bytes[60] = static_cast<std::uint8_t>(top);
    bytes[61] = bytes[62] = bytes[63] = 0xFF;
    WriteAll(user.ReplayPath("r710.replay"), bytes);
    EXPECT_EQ(ReadReplaySummary(710), -2);
    EXPECT_EQ(LastReplayPayload().capacity(), 256u);
  }
}

TEST(ReplayFiles, TrailingBytesAfterThePayloadAreIgnored) {
  UserDataFixture user;
  MakeFolder(user.ReplayPath());
  auto bytes = ReadAll(TestDataPath("replays/good/r710.replay"));
  const std::string tail = "appended by someone else";
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  WriteAll(user.ReplayPath("r710.replay"), bytes);
  EXPECT_EQ(ReadReplaySummary(710), 0);
}

TEST(ReplayFiles, ChangedChecksumFieldOrPayloadByteIsRejected) {
  UserDataFixture user;
  MakeFolder(user.ReplayPath());
  const auto good = ReadAll(TestDataPath("replays/good/r745.replay"));
  for (std::size_t at : {56u, 59u, 64u, 363u}) {
    auto bytes = good;
    bytes[at] ^= 0x01;
    WriteAll(user.ReplayPath("r745.replay"), bytes);
    EXPECT_EQ(ReadReplaySummary(745), -8) << at;
  }
  // The flags word enters the mask, so changing any of its bits breaks the checksum.
  auto bytes = good;
  bytes[55] ^= 0x01;
  WriteAll(user.ReplayPath("r745.replay"), bytes);
  EXPECT_EQ(ReadReplaySummary(745), -8);
}

TEST(ReplayFiles, RouteFieldMustMatchTheFileName) {
  UserDataFixture user;
  PlaceReplay(user, "replays/bad/route713-as-r712.replay", 713);
  EXPECT_EQ(ReadReplaySummary(713), 0);
  PlaceReplay(user, "replays/good/r710.replay", 711);
  EXPECT_EQ(ReadReplaySummary(711), -1);
}

TEST(ReplayFiles, LastRouteUsesR749) {
  UserDataFixture user;
  MakeFolder(user.ReplayPath());
  EXPECT_EQ(ReadReplaySummary(749), 2);
  WriteAll(user.ReplayPath("r749.replay"),
           MakeReplay(ReplaySpec{60, 1000, 749, 0x400, {1, 2, 3, 4, 5, 6, 7, 8, 9}}));
  EXPECT_EQ(ReadReplaySummary(749), 0);
  EXPECT_EQ(LastReplayDistance(), 1000u);
}

TEST(ReplayFiles, MissingFileIsTwoAndMissingFolderIsCreated) {
  UserDataFixture user;
  ASSERT_FALSE(test::Exists(user.ReplayPath()));
  EXPECT_EQ(ReadReplaySummary(710), 2);
  EXPECT_TRUE(test::Exists(user.ReplayPath()));
  EXPECT_EQ(ReadReplaySummary(710), 2);
}

TEST(ReplayFiles, UnusableFolderIsMinusOne) {
  UserDataFixture user;
  MakeFolder(user.VendorPath());
  WriteAll(user.ReplayPath(), {'x'});  // a file where the folder belongs
  EXPECT_EQ(ReadReplaySummary(710), -1);
  char folder[kPathSize];
  EXPECT_EQ(GetReplayFolder(folder, sizeof folder), -1);
}

TEST(ReplayFiles, ReplayFolderInBufferTooSmallIsRefusedNotCut) {
  UserDataFixture user;
  char folder[kPathSize];
  ASSERT_EQ(GetReplayFolder(folder, sizeof folder), 0);
  const std::size_t length = std::strlen(folder);
  std::vector<char> exact(length + 1, 'x');
  EXPECT_EQ(GetReplayFolder(exact.data(), exact.size()), 0);
  EXPECT_STREQ(exact.data(), folder);
  std::vector<char> small(length, 'x');
  EXPECT_EQ(GetReplayFolder(small.data(), small.size()), -1);
  EXPECT_EQ(small[0], '\0');
}

TEST(ReplayPaths, FolderIsTheVendorFolderWithQlanRep) {
  UserDataFixture user;
  char folder[kPathSize];
  std::memset(folder, 'x', sizeof folder);
  ASSERT_EQ(GetReplayFolder(folder, sizeof folder), 0);
  // The core joins with backslashes; natively the temporary folder keeps its own slashes.
  EXPECT_EQ(std::string(folder), user.appData() + "\\velmorn\\qlan_rep");
  // The rest of the buffer is zero-filled.
  for (std::size_t i = std::strlen(folder); i < sizeof folder; ++i) ASSERT_EQ(folder[i], '\0');
}

TEST(ReplayPaths, FileNamesHaveThreeDigitsAndOnlyRealRoutes) {
  UserDataFixture user;
  char folder[kPathSize];
  ASSERT_EQ(GetReplayFolder(folder, sizeof folder), 0);
  char path[kPathSize];
  ASSERT_EQ(GetReplayPath(710, path, sizeof path), 0);
  EXPECT_EQ(std::string(path), std::string(folder) + "\\r710.replay");
  ASSERT_EQ(GetReplayPath(749, path, sizeof path), 0);
  EXPECT_EQ(std::string(path), std::string(folder) + "\\r749.replay");
  EXPECT_EQ(GetReplayPath(709, path, sizeof path), -1);
  EXPECT_EQ(GetReplayPath(750, path, sizeof path), -1);
  EXPECT_EQ(GetReplayPath(-1, path, sizeof path), -1);
  EXPECT_EQ(ReadReplaySummary(750), -1);
  char small[8];
  EXPECT_EQ(GetReplayPath(710, small, sizeof small), -1);
}

// ---- checksum ----

TEST(ReplayChecksumForm, AgreesWithTheBitByBitDefinitionOnRandomData) {
  std::mt19937 random(20050702);
  std::vector<unsigned char> data(8192 + 7);
  for (auto& b : data) b = static_cast<unsigned char>(random());
  // Both forms, at every edge of the sixteen-byte steps and the 64-byte folding.
  const std::size_t lengths[] = {0,   1,   7,   8,   9,   15,  16,  17,  63,  64,  65,
                                 255, 256, 257, 319, 320, 321, 383, 511, 512, 513, 1000,
                                 4096, 8192 + 7};
  for (std::uint32_t flags : {0x0u, 0x400u, 0x12340000u, 0xFFFFFFFFu, 0xFFFFFBFFu}) {
    for (std::size_t n : lengths) {
      const std::uint32_t route = 710 + static_cast<std::uint32_t>(n % 40);
      const std::uint32_t expected = reference::ReplayChecksumBitwise(route, flags, data.data(), n);
      EXPECT_EQ(ReplayChecksum(route, flags, data.data(), n), expected) << "flags " << flags << " n " << n;
      EXPECT_EQ(ReplayChecksumTablesOnly(route, flags, data.data(), n), expected)
          << "flags " << flags << " n " << n;
    }
  }
  for (int round = 0; round < 300; ++round) {
    const std::uint32_t flags = static_cast<std::uint32_t>(random());
    const std::uint32_t route = static_cast<std::uint32_t>(random());
    const std::size_t n = random() % data.size();
    const std::size_t start = random() % (data.size() - n + 1);
    const std::uint32_t expected =
        reference::ReplayChecksumBitwise(route, flags, data.data() + start, n);
    ASSERT_EQ(ReplayChecksum(route, flags, data.data() + start, n), expected) << "round " << round;
    ASSERT_EQ(ReplayChecksumTablesOnly(route, flags, data.data() + start, n), expected)
        << "round " << round;
  }
}

TEST(ReplayChecksumForm, AgreesOnAPayloadAsLongAsTheLargestReplays) {
  std::mt19937 random(3097332);
  std::vector<unsigned char> data(3097332 - 64);
  for (auto& b : data) b = static_cast<unsigned char>(random() >> 24);
  const std::uint32_t expected = reference::ReplayChecksumBitwise(745, 0x400, data.data(), data.size());
  EXPECT_EQ(ReplayChecksum(745, 0x400, data.data(), data.size()), expected);
  EXPECT_EQ(ReplayChecksumTablesOnly(745, 0x400, data.data(), data.size()), expected);
}

TEST(ReplayChecksumForm, EmptyPayloadGivesTheRoute) {
  EXPECT_EQ(ReplayChecksum(712, 0, nullptr, 0), 712u);
  EXPECT_EQ(ReplayChecksum(0xDEADBEEF, 0x400, nullptr, 0), 0xDEADBEEFu);
}

TEST(ReplayChecksumForm, KnownFilesCarryTheirChecksum) {
  for (const char* file : {"replays/good/r710.replay", "replays/good/r745.replay"}) {
    const auto bytes = ReadAll(TestDataPath(file));
    ASSERT_GT(bytes.size(), 64u);
    auto word = [&](std::size_t at) {
      return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
             (std::uint32_t{bytes[at + 2]} << 8) | std::uint32_t{bytes[at + 3]};
    };
    EXPECT_EQ(ReplayChecksum(word(12), word(52), bytes.data() + 64, word(60)), word(56)) << file;
  }
  // Literal values of the two good files with a payload.
  const auto r710 = ReadAll(TestDataPath("replays/good/r710.replay"));
  EXPECT_EQ(ReplayChecksum(710, 0x12340000, r710.data() + 64, 1001), 0x5A0AB1E6u);
}

TEST(ReplayChecksumForm, SingleBytesFollowTheDefinition) {
  // A byte that never reaches bit 31 is a plain shift by eight.
  const unsigned char one = 0x01;
  EXPECT_EQ(ReplayChecksum(0, 0, &one, 1), 0x100u);
  // Bit 24 reaches bit 31 on the eighth step: rotated into bit 0, then the mask.
  const unsigned char zero = 0x00;
  EXPECT_EQ(ReplayChecksum(0x01000000u, 0, &zero, 1), 0x73D0A85Fu);
  EXPECT_EQ(ReplayChecksum(0x01000000u, 0x400, &zero, 1), 0x2F6B1DC5u);
  EXPECT_EQ(ReplayChecksum(0x01000000u, 0xFFFFFFFFu, &zero, 1), 0xD094E63Au);
}

// ---- the in-memory validator ----

TEST(ReplayBytes, KnownAnswerFilesValidateInMemoryTheSameWay) {
  for (const KnownAnswer& row : kKnownAnswers) {
    const auto bytes = ReadAll(TestDataPath(row.file));
    ReplaySummary summary{};
    const int result = ValidateReplayBytes(bytes.data(), bytes.size(), &summary);
    // In memory there is no file name: the route only has to be a real one.
    EXPECT_EQ(result, row.expected == -1 ? 0 : row.expected) << row.file;
  }
  const auto bytes = ReadAll(TestDataPath("replays/good/r745.replay"));
  ReplaySummary summary{};
  ASSERT_EQ(ValidateReplayBytes(bytes.data(), bytes.size(), &summary), 0);
  EXPECT_EQ(summary.route, 745u);
  EXPECT_EQ(summary.time, 300000u);
  EXPECT_EQ(summary.distance, 3456789u);
  EXPECT_EQ(summary.flags, 0x400u);
}

TEST(ReplayBytes, RouteOutsideTheFortyIsRejected) {
  for (std::uint32_t route : {0u, 709u, 750u, 0xFFFFFFFFu}) {
    const auto bytes = MakeReplay(ReplaySpec{1, 2, route, 0, {9, 8, 7}});
    ReplaySummary summary{};
    EXPECT_EQ(ValidateReplayBytes(bytes.data(), bytes.size(), &summary), -1) << route;
    EXPECT_EQ(summary.route, route);
  }
  for (std::uint32_t route : {710u, 749u}) {
    const auto bytes = MakeReplay(ReplaySpec{1, 2, route, 0, {9, 8, 7}});
    EXPECT_EQ(ValidateReplayBytes(bytes.data(), bytes.size(), nullptr), 0) << route;
  }
}

TEST(ReplayBytes, EmptyOrMissingInputIsAShortHeader) {
  EXPECT_EQ(ValidateReplayBytes(nullptr, 0, nullptr), -16);
  EXPECT_EQ(ValidateReplayBytes(nullptr, 100, nullptr), -16);
  const unsigned char magic[] = {'Q', 'L', 'N', 'R'};
  EXPECT_EQ(ValidateReplayBytes(magic, sizeof magic, nullptr), -16);
}

// ---- AutoArray ----

TEST(AutoArrayRule, StartsEmptyWithOneStep) {
  AutoArray<unsigned char> a;
  EXPECT_EQ(a.size(), 0u);
  EXPECT_EQ(a.capacity(), 256u);
  EXPECT_NE(a.data(), nullptr);
}

TEST(AutoArrayRule, CapacityIsTheNextStepStrictlyAbove) {
  const std::pair<std::uint32_t, std::uint32_t> rows[] = {
      {0, 256}, {1, 256}, {255, 256}, {256, 512}, {300, 512}, {511, 512}, {512, 768}, {1001, 1024}};
  for (const auto& [n, capacity] : rows) {
    AutoArray<unsigned char> a;
    ASSERT_TRUE(a.Resize(n));
    EXPECT_EQ(a.size(), n);
    EXPECT_EQ(a.capacity(), capacity) << n;
  }
}

TEST(AutoArrayRule, GrowsAndShrinksKeepingTheFirstBytes) {
  AutoArray<unsigned char> a;
  ASSERT_TRUE(a.Resize(256));
  EXPECT_EQ(a.capacity(), 512u);
  for (std::uint32_t i = 0; i < 256; ++i) a.data()[i] = static_cast<unsigned char>(i ^ 0x5A);
  ASSERT_TRUE(a.Resize(10));
  EXPECT_EQ(a.capacity(), 256u);
  EXPECT_EQ(a.size(), 10u);
  for (std::uint32_t i = 0; i < 10; ++i) EXPECT_EQ(a.data()[i], static_cast<unsigned char>(i ^ 0x5A));
  // Growing again appends zeros after the kept bytes.
  ASSERT_TRUE(a.Resize(300));
  EXPECT_EQ(a.data()[9], 9 ^ 0x5A);
  for (std::uint32_t i = 10; i < 300; ++i) ASSERT_EQ(a.data()[i], 0) << i;
}

TEST(AutoArrayRule, SameStepKeepsTheStorage) {
  AutoArray<unsigned char> a;
  ASSERT_TRUE(a.Resize(100));
  const unsigned char* before = a.data();
  ASSERT_TRUE(a.Resize(200));
  EXPECT_EQ(a.data(), before);
  ASSERT_TRUE(a.Resize(5));
  EXPECT_EQ(a.data(), before);
}

TEST(AutoArrayRule, AccessPastTheEndGrows) {
  AutoArray<unsigned char> a;
  unsigned char* p = a.At(300);
  ASSERT_NE(p, nullptr);
  *p = 7;
  EXPECT_EQ(a.size(), 301u);
  EXPECT_EQ(a.capacity(), 512u);
  EXPECT_EQ(a.data()[300], 7);
  EXPECT_EQ(*a.At(0), 0);
  EXPECT_EQ(a.size(), 301u);
}

TEST(AutoArrayRule, AccessThatCannotGrowIsRefused) {
  AutoArray<unsigned char> a;
  ASSERT_TRUE(a.Resize(3));
  a.data()[0] = 42;
  // The capacity rule for these sizes does not fit 32 bits.
  EXPECT_EQ(a.At(0xFFFFFFFFu), nullptr);
  EXPECT_EQ(a.At(0xFFFFFFFEu), nullptr);
  EXPECT_FALSE(a.Resize(0xFFFFFF00u));
  EXPECT_EQ(a.size(), 3u);
  EXPECT_EQ(a.capacity(), 256u);
  EXPECT_EQ(a.data()[0], 42);
}

}  // namespace
}  // namespace qlan
