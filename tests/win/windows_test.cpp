// What only Windows semantics show: sharing and read-only codes of the file layer, files the
// game holds open, the "*.replay" search, and Winsock's start and clean-up.
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>

#include "app/files.h"
#include "app/settings.h"
#include "net/tcp_connection.h"
#include "records/erase.h"
#include "records/replay.h"
#include "support/temp_env.h"

namespace qlan::test {
namespace {

TEST(WinFiles, SharingCodesAndAReaderThatBlocksTheSettingsReplacement) {
  TempFolder dir;
  const std::string path = dir.Join("shared.bin");
  WriteAll(path, Bytes(20, 0xAA));
  {
    ScopedFile reader(FileOpen(path.c_str(), kFileRead));
    ScopedFile second(FileOpen(path.c_str(), kFileRead));
    EXPECT_EQ(FileError(), 0);
    ScopedFile writer(FileOpen(path.c_str(), kFileWrite));
    EXPECT_EQ(FileError(), kErrorSharingViolation);
  }
  // A reader without delete sharing makes the settings file's replacement fail.
  Settings settings{};
  ResetSettings(settings);
  ScopedFile holder(FileOpen(path.c_str(), kFileRead));
  EXPECT_NE(SaveSettings(path.c_str(), settings), 0);
  holder.reset();
  EXPECT_EQ(ReadAll(path).size(), 20u);
  EXPECT_FALSE(Exists(path + ".new"));
}

TEST(WinRecords, ReplaysHeldByTheGameFoldersByTheirNameAndTheEraseOfOnlyReplayFiles) {
  UserDataFixture user;
  const auto at = [&](const char* name) { return user.ReplayPath(name); };
  MakeFolder(at("x.replay"));
  for (const char* name : {"r710.replay", "r745.replay"}) {
    WriteAll(at(name), ReadAll(TestDataPath(std::string("replays/good/") + name)));
  }
  for (const char* name : {"x.replay\\inner.replay", "notes.replay.txt", "r710.replay.bak",
                           "Mixed.RePlay", "r711.replay"}) {
    WriteAll(at(name), {1});
  }
  SetReadOnly(at("r711.replay"), true);
  {
    // The game holds both, reading one and writing the other, neither with delete sharing.
    ScopedFile reading(FileOpen(at("r745.replay").c_str(), kFileRead));
    ScopedFile writing(FileOpen(at("r710.replay").c_str(), kFileWrite));
    ASSERT_TRUE(reading.valid() && writing.valid());
    EXPECT_EQ(ReadReplaySummary(745), 0);
    EXPECT_EQ(ReadReplaySummary(710), kErrorSharingViolation);
    EXPECT_EQ(EraseReplays(user.ReplayPath().c_str()), kEraseDeleteFailed);
  }
  MakeFolder(at("r712.replay"));
  EXPECT_EQ(ReadReplaySummary(712), kErrorAccessDenied);  // a folder by the file's name
  EXPECT_EQ(ReadReplaySummary(713), kErrorFileNotFound);
  for (const char* kept : {"x.replay\\inner.replay", "notes.replay.txt", "r710.replay.bak",
                           "r711.replay", "r745.replay"}) {
    EXPECT_TRUE(Exists(at(kept))) << kept;
  }
  EXPECT_FALSE(Exists(at("Mixed.RePlay")));
  EXPECT_EQ(EraseReplays(at("missing").c_str()), kEraseSearchFailed);
  TempFolder empty;
  EXPECT_EQ(EraseReplays(empty.path().c_str()), 0);
}

// Whether Winsock is started in this process, seen from outside the connection.
bool WinsockStarted() {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return ::WSAGetLastError() != WSANOTINITIALISED;
  ::closesocket(s);
  return true;
}

TEST(WinSockets, LibraryStartsWithTheFirstConnectionAndStopsWithTheLast) {
  ASSERT_FALSE(WinsockStarted()) << "something else in this process holds Winsock";
  for (int round = 0; round < 2; ++round) {
    {
      TcpConnection first;
      EXPECT_TRUE(WinsockStarted());
      {
        TcpConnection second;
        EXPECT_EQ(TcpConnection::liveCount(), 2);
      }
      EXPECT_TRUE(WinsockStarted());  // one clean-up for one start
    }
    EXPECT_EQ(TcpConnection::liveCount(), 0);
    EXPECT_FALSE(WinsockStarted());
  }
}

}  // namespace
}  // namespace qlan::test
