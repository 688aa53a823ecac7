// What only Windows semantics show: sharing and read-only codes of the file layer, files the
// game holds open, the "*.replay" search, and Winsock's start and clean-up.
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>

#include "app/files.h"
#include "app/settings.h"
#include "app/wide_win32.h"
#include "net/download.h"
#include "net/ranking.h"
#include "net/tcp_connection.h"
#include "records/erase.h"
#include "records/replay.h"
#include "support/loopback_peer.h"
#include "support/temp_env.h"

namespace qlan {
namespace {

using test::Exists;
using test::ReadAll;
using test::TempFolder;
using test::WriteAll;
using Bytes = std::vector<std::uint8_t>;

// A handle that another program (the game) holds on a file.
class HeldFile {
 public:
  HeldFile(const std::string& path, DWORD access, DWORD share)
      : handle_(
            CreateFileW(Widen(path).c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~HeldFile() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

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
  {
    ScopedFile writer(FileOpen(path.c_str(), kFileWrite));
    ASSERT_EQ(FileError(), 0);
    ScopedFile reader(FileOpen(path.c_str(), kFileRead));
    EXPECT_EQ(FileError(), kErrorSharingViolation);
    EXPECT_EQ(FileWrite(writer.get(), 2, "\x11\x11"), 2);
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

TEST(WinRecords, ReplaysHeldByTheGameAndFoldersByTheirName) {
  test::UserDataFixture user;
  test::MakeFolder(user.ReplayPath());
  for (const char* name : {"r710.replay", "r745.replay"}) {
    WriteAll(user.ReplayPath(name),
             ReadAll(test::TestDataPath(std::string("replays/good/") + name)));
  }
  {
    HeldFile reading(user.ReplayPath("r745.replay"), GENERIC_READ, FILE_SHARE_READ);
    HeldFile writing(user.ReplayPath("r710.replay"), GENERIC_WRITE, FILE_SHARE_READ);
    ASSERT_TRUE(reading.valid() && writing.valid());
    EXPECT_EQ(ReadReplaySummary(745), 0);
    EXPECT_EQ(ReadReplaySummary(710), kErrorSharingViolation);
  }
  test::MakeFolder(user.ReplayPath("r711.replay"));
  EXPECT_EQ(ReadReplaySummary(711), kErrorAccessDenied);  // a folder by the file's name
  EXPECT_EQ(ReadReplaySummary(712), kErrorFileNotFound);
}

TEST(WinRecords, EraseMatchesOnlyReplayFilesAndReportsWhatItCouldNotDelete) {
  TempFolder dir;
  test::MakeFolder(dir.Join("x.replay"));
  for (const char* name : {"x.replay\\inner.replay", "notes.replay.txt", "r710.replay.bak",
                           "extra.replay", "Mixed.RePlay", "r711.replay", "r712.replay"}) {
    WriteAll(dir.Join(name), {1});
  }
  test::SetReadOnly(dir.Join("r711.replay"), true);
  {
    // Open without delete sharing: the deletion fails while this handle lives.
    HeldFile game(dir.Join("r712.replay"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(game.valid());
    EXPECT_EQ(EraseReplays(dir.path().c_str()), kEraseDeleteFailed);
  }
  for (const char* kept : {"x.replay\\inner.replay", "notes.replay.txt", "r710.replay.bak",
                           "r711.replay", "r712.replay"}) {
    EXPECT_TRUE(Exists(dir.Join(kept))) << kept;
  }
  EXPECT_FALSE(Exists(dir.Join("extra.replay")) || Exists(dir.Join("Mixed.RePlay")));
  EXPECT_EQ(EraseReplays(dir.Join("missing").c_str()), kEraseSearchFailed);
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

TEST(WinDownload, HighScoreFileHeldOpenByTheGameIsLeftAsItWas) {
  test::UserDataFixture users;
  test::MakeFolder(users.VendorPath());
  const std::string target = users.VendorPath("qlanb.ee");
  WriteAll(target, Bytes(20, 'o'));
  ScopedFile game(FileOpen(target.c_str(), kFileRead));
  test::LoopbackPeer peer;
  peer.ReadRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nnew!");
  peer.Start();
  EXPECT_EQ(downloadHighScores(UserAgent, "127.0.0.1", peer.port(), Timeouts{2000, 2000}),
            kHighScoreFileFailed);
  game.reset();
  EXPECT_EQ(ReadAll(target), Bytes(20, 'o'));
  EXPECT_FALSE(Exists(users.VendorPath("qlanb.ee.part")));
}

}  // namespace
}  // namespace qlan
