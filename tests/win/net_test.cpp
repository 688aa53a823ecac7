// Winsock as the connection meets it: the library's start and clean-up over live
// connections, refused and unanswered connects, silent peers, and the download's file
// replacement while the game holds qlanb.ee open.
#include <gtest/gtest.h>
#include <winsock2.h>

#include <chrono>
#include <string>

#include "app/files.h"
#include "net/download.h"
#include "net/http.h"
#include "net/ranking.h"
#include "net/tcp_connection.h"
#include "support/loopback_peer.h"
#include "support/temp_env.h"

namespace qlan {
namespace {

using test::LoopbackPeer;
using Clock = std::chrono::steady_clock;

// Whether Winsock is started in this process, seen from outside the connection.
bool WinsockStarted() {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return ::WSAGetLastError() != WSANOTINITIALISED;
  ::closesocket(s);
  return true;
}

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(WinSockets, LibraryStartsWithTheFirstConnectionAndStopsWithTheLast) {
  ASSERT_FALSE(WinsockStarted()) << "something else in this process holds Winsock";
  {
    TcpConnection first;
    EXPECT_TRUE(WinsockStarted());
    {
      TcpConnection second;
      EXPECT_EQ(TcpConnection::liveCount(), 2);
    }
    // One clean-up for one start: the first connection still has its library.
    EXPECT_TRUE(WinsockStarted());
  }
  EXPECT_EQ(TcpConnection::liveCount(), 0);
  EXPECT_FALSE(WinsockStarted());
  // And again from the start.
  {
    TcpConnection again;
    EXPECT_TRUE(WinsockStarted());
  }
  EXPECT_FALSE(WinsockStarted());
}

TEST(WinSockets, RefusedConnectFailsAtOnce) {
  const int port = LoopbackPeer::ClosedPort();
  TcpConnection c;
  c.setTimeouts(Timeouts{5000, 2000});
  ASSERT_EQ(c.resolve("127.0.0.1", port), 0);
  const auto start = Clock::now();
  EXPECT_EQ(c.connectToPeer(), -1);
  EXPECT_LT(MsSince(start), 4000);
}

TEST(WinSockets, UnansweredConnectGivesUpAtItsLimit) {
  LoopbackPeer peer(0);
  peer.SaturateBacklog();
  TcpConnection c;
  c.setTimeouts(Timeouts{400, 2000});
  ASSERT_EQ(c.resolve("127.0.0.1", peer.port()), 0);
  const auto start = Clock::now();
  EXPECT_EQ(c.connectToPeer(), -1);
  EXPECT_GE(MsSince(start), 300);
  EXPECT_LT(MsSince(start), 3000);
}

TEST(WinSockets, UnresolvableNameIsNotFound) {
  TcpConnection c;
  EXPECT_EQ(c.resolve(test::kUnresolvableHost, 80), -1);
  EXPECT_EQ(c.connectToPeer(), -1);
  TcpConnection dotted;
  EXPECT_EQ(dotted.resolve("127.0.0.1", 80), 0);
  EXPECT_EQ(dotted.resolve("localhost", 80), 0);
}

TEST(WinSockets, SilentPeerTimesOutLinesAndBlocks) {
  LoopbackPeer peer;
  peer.Silent(5000);
  peer.Start();
  TcpConnection c;
  c.setTimeouts(Timeouts{2000, 300});
  ASSERT_EQ(openExchange(c, "127.0.0.1", peer.port()), 0);
  char line[kLineBufferSize];
  auto start = Clock::now();
  EXPECT_LT(c.receiveLine('\n', line, kLineBufferSize), 0);
  EXPECT_LT(MsSince(start), 2500);
  std::int32_t length = 0;
  start = Clock::now();
  EXPECT_EQ(readResponseHead(c, line, &length), kConnectionCut);
  EXPECT_LT(MsSince(start), 2500);
}

TEST(WinSockets, PeerThatStopsReadingTimesOutTheSend) {
  LoopbackPeer peer;
  peer.StopReading(5000);
  peer.Start();
  TcpConnection c;
  c.setTimeouts(Timeouts{2000, 300});
  ASSERT_EQ(openExchange(c, "127.0.0.1", peer.port()), 0);
  const std::string data(std::size_t{64} << 20, 's');
  const auto start = Clock::now();
  EXPECT_EQ(c.sendAll(data.data(), static_cast<int>(data.size())), -1);
  EXPECT_LT(MsSince(start), 5000);
}

TEST(WinDownload, CompleteBodyReplacesTheFile) {
  test::UserDataFixture users;
  test::MakeFolder(users.VendorPath());
  test::WriteAll(users.VendorPath("qlanb.ee"), std::vector<std::uint8_t>(20, 'o'));
  LoopbackPeer peer;
  peer.ReadRequest().SendSplit("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nnew!", {10, 40}, 10);
  peer.Start();
  EXPECT_EQ(downloadHighScores(UserAgent, "127.0.0.1", peer.port(), Timeouts{2000, 2000}), 0);
  const auto stored = test::ReadAll(users.VendorPath("qlanb.ee"));
  EXPECT_EQ(std::string(stored.begin(), stored.end()), "new!");
  EXPECT_FALSE(test::Exists(users.VendorPath("qlanb.ee.part")));
}

TEST(WinDownload, FileHeldOpenByTheGameIsLeftAsItWas) {
  test::UserDataFixture users;
  test::MakeFolder(users.VendorPath());
  const std::string target = users.VendorPath("qlanb.ee");
  test::WriteAll(target, std::vector<std::uint8_t>(20, 'o'));
  ScopedFile game(FileOpen(target.c_str(), kFileRead));
  ASSERT_EQ(FileError(), 0);
  LoopbackPeer peer;
  peer.ReadRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nnew!");
  peer.Start();
  EXPECT_EQ(downloadHighScores(UserAgent, "127.0.0.1", peer.port(), Timeouts{2000, 2000}),
            kHighScoreFileFailed);
  game.reset();
  EXPECT_EQ(test::ReadAll(target), std::vector<std::uint8_t>(20, 'o'));
  EXPECT_FALSE(test::Exists(users.VendorPath("qlanb.ee.part")));
}

}  // namespace
}  // namespace qlan
