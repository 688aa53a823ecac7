// Replay reading and validation against the known-answer files, the checksum against its
// bit-by-bit definition, and the payload array's capacity rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <tuple>
#include <utility>

#include "app/text.h"
#include "records/checksum_reference.h"
#include "records/replay.h"
#include "records/replay_checksum.h"
#include "support/temp_env.h"

namespace qlan::test {
namespace {

// A valid replay without payload: its checksum is the route.
Bytes HeaderOnlyReplay(std::uint32_t time, std::uint32_t distance, std::uint32_t route) {
  Bytes out(64, 0);
  out[0] = 'Q', out[1] = 'L', out[2] = 'N', out[3] = 'R';
  for (const auto& [at, value] :
       {std::pair{4u, time}, {8u, distance}, {12u, route}, {56u, route}}) {
    for (unsigned k = 0; k < 4; ++k) out[at + k] = static_cast<std::uint8_t>(value >> (24 - 8 * k));
  }
  return out;
}

const struct {
  const char* file;
  int route;
  int expected;
} kKnownAnswers[] = {
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

TEST(ReplayFiles, EveryKnownAnswerFileGivesItsListedResultFromFileAndMemory) {
  for (const auto& row : kKnownAnswers) {
    UserDataFixture user;
    PlaceReplay(user, row.file, row.route);
    EXPECT_EQ(ReadReplaySummary(row.route), row.expected) << row.file;
    // In memory there is no file name: the route only has to be a real one.
    const Bytes bytes = ReadAll(TestDataPath(row.file));
    EXPECT_EQ(ValidateReplayBytes(bytes.data(), bytes.size(), nullptr),
              row.expected == -1 ? 0 : row.expected)
        << row.file;
  }
  Bytes bytes = ReadAll(TestDataPath("replays/good/r745.replay"));
  const std::size_t fileSize = bytes.size();
  bytes.resize(fileSize + 3);  // bytes after the declared payload are not the run's
  ReplaySummary summary{};
  ASSERT_EQ(ValidateReplayBytes(bytes.data(), bytes.size(), &summary), 0);
  EXPECT_EQ(std::tuple(summary.route, summary.time, summary.distance, summary.flags, summary.size),
            std::tuple(745u, 300000u, 3456789u, 0x400u, fileSize));
  // Only the forty routes and only real data are valid.
  for (std::uint32_t route : {709u, 710u, 749u, 750u}) {
    const Bytes header = HeaderOnlyReplay(1, 2, route);
    EXPECT_EQ(ValidateReplayBytes(header.data(), header.size(), &summary),
              route == 710 || route == 749 ? 0 : -1);
    EXPECT_EQ(summary.route, route);
  }
  EXPECT_EQ(ValidateReplayBytes(nullptr, 100, nullptr), -16);
}

TEST(ReplayFiles, ValidFilesGiveTheirHeaderAndPayloadKeepingStorageWithinAStep) {
  UserDataFixture user;
  PlaceReplay(user, "replays/good/r710.replay", 710);
  PlaceReplay(user, "replays/good/r745.replay", 745);
  ASSERT_EQ(ReadReplaySummary(710), 0);
  const ReplayHeader& h = LastReplayHeader();
  EXPECT_EQ(std::tuple(LastReplayTime(), LastReplayDistance(), h.route, h.keptWord1, h.keptWord2,
                       h.flags),
            std::tuple(7384u, 45678u, 710u, 7u, 9u, 0x12340000u));
  EXPECT_EQ(std::pair(LastReplayPayload().size(), LastReplayPayload().capacity()),
            std::pair(1001u, 1024u));
  const unsigned char* first = LastReplayPayload().data();
  ASSERT_EQ(ReadReplaySummary(710), 0);
  EXPECT_EQ(LastReplayPayload().data(), first);
  ASSERT_EQ(ReadReplaySummary(745), 0);
  EXPECT_EQ(std::pair(LastReplayTime(), LastReplayDistance()), std::pair(300000u, 3456789u));
  ASSERT_EQ(std::pair(LastReplayPayload().size(), LastReplayPayload().capacity()),
            std::pair(300u, 512u));
  const Bytes bytes = ReadAll(TestDataPath("replays/good/r745.replay"));
  EXPECT_TRUE(std::equal(bytes.begin() + 64, bytes.begin() + 364, LastReplayPayload().data()));
}

TEST(ReplayFiles, ChangedFilesGiveTheirResult) {
  const auto cut = [](std::size_t n) { return [n](Bytes& b) { b.resize(n); }; };
  const auto flip = [](std::size_t at) { return [at](Bytes& b) { b[at] ^= 0x01; }; };
  const auto magic = [](const char* m) { return [m](Bytes& b) { std::memcpy(b.data(), m, 4); }; };
  const struct {
    const char* file;
    int route;
    std::function<void(Bytes&)> change;
    int expected;
  } rows[] = {
      {"replays/good/r712.replay", 712, cut(64), 0},  // header only: the checksum is the route
      {"replays/good/r710.replay", 710, [](Bytes& b) { b.insert(b.end(), 5, 'x'); },
       0},  // trailing bytes
      {"replays/good/r710.replay", 710, cut(63), -16},
      {"replays/good/r710.replay", 710, magic("RNLQ"), -4},
      {"replays/good/r710.replay", 710, cut(4), -16},
      {"replays/good/r710.replay", 710, [](Bytes& b) { b[0] = 'q', b.resize(4); },
       -4},  // magic first
      {"replays/good/r710.replay", 710, [](Bytes& b) { b.pop_back(); }, -2},
      {"replays/good/r745.replay", 745, flip(55), -8},  // the flags enter the checksum
      {"replays/good/r745.replay", 745, flip(363), -8},
  };
  UserDataFixture user;
  MakeFolder(user.ReplayPath());
  for (const auto& row : rows) {
    Bytes bytes = ReadAll(TestDataPath(row.file));
    row.change(bytes);
    WriteAll(user.ReplayPath(ReplayName(row.route)), bytes);
    EXPECT_EQ(ReadReplaySummary(row.route), row.expected) << row.file << " " << bytes.size();
  }
  // The route field must match the file name.
  PlaceReplay(user, "replays/bad/route713-as-r712.replay", 713);
  EXPECT_EQ(ReadReplaySummary(713), 0);
  PlaceReplay(user, "replays/good/r710.replay", 711);
  EXPECT_EQ(ReadReplaySummary(711), -1);
}

TEST(ReplayFiles, HugeLengthIsRejectedBeforeAnyRoomIsTaken) {
  UserDataFixture user;
  PlaceReplay(user, "replays/good/r712.replay", 712);
  ASSERT_EQ(ReadReplaySummary(712), 0);
  ASSERT_EQ(LastReplayPayload().capacity(), 256u);
  Bytes bytes = ReadAll(TestDataPath("replays/bad/huge-length-r710.replay"));
  bytes[60] = 0x80;  // 2^31 and up
  WriteAll(user.ReplayPath("r710.replay"), bytes);
  EXPECT_EQ(ReadReplaySummary(710), -2);
  EXPECT_EQ(LastReplayPayload().capacity(), 256u);
  // Data that does hold such a length still gets no room: a failure of its own. Only the
  // 64 header bytes are read; the size given merely claims more.
  bytes[60] = 0xFF;
  EXPECT_EQ(ValidateReplayBytes(bytes.data(), 0x100000040ull, nullptr), -32);
}

TEST(ReplayFiles, MissingFileIsTwoMissingFolderIsCreatedUnusableFolderIsMinusOne) {
  UserDataFixture user;
  EXPECT_EQ(ReadReplaySummary(749), 2);
  EXPECT_TRUE(Exists(user.ReplayPath()));
  WriteAll(user.ReplayPath("r749.replay"), HeaderOnlyReplay(60, 1000, 749));
  EXPECT_EQ(ReadReplaySummary(749), 0);
  EXPECT_EQ(ReadReplaySummary(750), -1);

  UserDataFixture blocked;
  MakeFolder(blocked.VendorPath());
  WriteAll(blocked.ReplayPath(), {'x'});  // a file where the folder belongs
  EXPECT_EQ(ReadReplaySummary(710), -1);
  char folder[kPathSize];
  EXPECT_EQ(GetReplayFolder(folder, sizeof folder), -1);
}

TEST(ReplayPaths, FolderAndFileNamesFitTheirBufferOrAreRefused) {
  UserDataFixture user;
  char folder[kPathSize];
  ASSERT_EQ(GetReplayFolder(folder, sizeof folder), 0);
  // The core joins with backslashes; natively the temporary folder keeps its own slashes.
  EXPECT_EQ(std::string(folder), user.appData() + "\\velmorn\\qlan_rep");
  std::vector<char> exact(std::strlen(folder) + 1, 'x');
  EXPECT_EQ(GetReplayFolder(exact.data(), exact.size()), 0);
  EXPECT_STREQ(exact.data(), folder);
  std::vector<char> small(exact.size() - 1, 'x');
  EXPECT_EQ(GetReplayFolder(small.data(), small.size()), -1);
  EXPECT_EQ(small[0], '\0');

  char path[kPathSize];
  ASSERT_EQ(GetReplayPath(749, path, sizeof path), 0);
  EXPECT_EQ(std::string(path), std::string(folder) + "\\r749.replay");
  for (int route : {709, 750, -1}) EXPECT_EQ(GetReplayPath(route, path, sizeof path), -1) << route;
  EXPECT_EQ(GetReplayPath(710, path, 8), -1);
}

TEST(ReplayChecksumForm, AgreesWithTheBitByBitDefinition) {
  std::mt19937 random(20050702);
  std::vector<unsigned char> data(3097332 - 64);  // as long as the largest replays
  for (auto& b : data) b = static_cast<unsigned char>(random() >> 24);
  auto expectSame = [&](std::uint32_t route, std::uint32_t flags, std::size_t start,
                        std::size_t n) {
    const std::uint32_t expected =
        reference::ReplayChecksumBitwise(route, flags, data.data() + start, n);
    EXPECT_EQ(ReplayChecksum(route, flags, data.data() + start, n), expected) << n;
    EXPECT_EQ(ReplayChecksumTablesOnly(route, flags, data.data() + start, n), expected) << n;
  };
  // Every edge of the sixteen-byte steps and the 64-byte folding, for both constants.
  for (std::uint32_t flags : {0x0u, 0x400u, 0xFFFFFFFFu, 0xFFFFFBFFu}) {
    for (std::size_t n : {0u, 1u, 8u, 15u, 16u, 17u, 63u, 64u, 65u, 319u, 320u, 321u, 8199u}) {
      expectSame(710 + static_cast<std::uint32_t>(n % 40), flags, 0, n);
    }
  }
  for (int round = 0; round < 300; ++round) {
    expectSame(static_cast<std::uint32_t>(random()), static_cast<std::uint32_t>(random()),
               random() % 8, random() % 8199);
  }
  expectSame(745, 0x400, 0, data.size());
  // Literal values, so that the definition itself is held too.
  const Bytes r710 = ReadAll(TestDataPath("replays/good/r710.replay"));
  EXPECT_EQ(ReplayChecksum(710, 0x12340000, r710.data() + 64, 1001), 0x5A0AB1E6u);
  const unsigned char one = 0x01;
  const unsigned char zero = 0x00;
  EXPECT_EQ(ReplayChecksum(0, 0, &one, 1), 0x100u);  // never reaches bit 31: a plain shift
  // Bit 24 reaches bit 31 on the eighth step: rotated into bit 0, then the mask.
  EXPECT_EQ(ReplayChecksum(0x01000000u, 0, &zero, 1), 0x73D0A85Fu);
  EXPECT_EQ(ReplayChecksum(0x01000000u, 0x400, &zero, 1), 0x2F6B1DC5u);
  EXPECT_EQ(ReplayChecksum(0x01000000u, 0xFFFFFFFFu, &zero, 1), 0xD094E63Au);
}

TEST(AutoArrayRule, CapacityIsTheNextStepAboveKeepingBytesAndRefusingWhatCannotFit) {
  AutoArray<unsigned char> a;
  EXPECT_TRUE(a.size() == 0 && a.capacity() == 256 && a.data() != nullptr);
  const std::pair<std::uint32_t, std::uint32_t> rows[] = {
      {100, 256}, {0, 256}, {255, 256}, {256, 512}, {511, 512}, {512, 768}, {1001, 1024}};
  const unsigned char* first = a.data();
  for (const auto& [n, capacity] : rows) {
    ASSERT_TRUE(a.Resize(n));
    EXPECT_EQ(std::pair(a.size(), a.capacity()), std::pair(n, capacity));
    EXPECT_TRUE(capacity != 256 || a.data() == first) << "storage kept within a step";
  }
  ASSERT_TRUE(a.Resize(256));
  for (std::uint32_t i = 0; i < 256; ++i) a.data()[i] = static_cast<unsigned char>(i ^ 0x5A);
  ASSERT_TRUE(a.Resize(10));
  ASSERT_TRUE(a.Resize(300));  // grows again with zeros after the kept bytes
  for (std::uint32_t i = 0; i < 300; ++i) ASSERT_EQ(a.data()[i], i < 10 ? (i ^ 0x5A) : 0) << i;
  *a.At(400) = 7;  // access grows
  EXPECT_EQ(std::pair(a.size(), a.capacity()), std::pair(401u, 512u));
  // The capacity rule for these sizes does not fit 32 bits.
  EXPECT_EQ(a.At(0xFFFFFFFFu), nullptr);
  EXPECT_EQ(a.At(0xFFFFFFFEu), nullptr);
  EXPECT_FALSE(a.Resize(0xFFFFFF00u));
  EXPECT_EQ(std::tuple(a.size(), a.capacity(), a.data()[400]), std::tuple(401u, 512u, 7));
}

}  // namespace
}  // namespace qlan::test
