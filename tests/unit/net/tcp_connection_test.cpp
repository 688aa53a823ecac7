// The receive ring, line and block reads, transfers and time-outs of TcpConnection,
// against loopback peers the tests start themselves.
#include "net/tcp_connection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/loopback_peer.h"

namespace qlan {
namespace {

using test::LoopbackPeer;
using Clock = std::chrono::steady_clock;

// Short limits so that a fault shows as a failure, not as a hang.
constexpr Timeouts kTestTimeouts{2000, 2000};

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::unique_ptr<TcpConnection> ConnectTo(int port, Timeouts timeouts = kTestTimeouts) {
  auto c = std::make_unique<TcpConnection>();
  c->setTimeouts(timeouts);
  EXPECT_EQ(c->resolve("127.0.0.1", port), 0);
  EXPECT_EQ(c->connectToPeer(), 0);
  return c;
}

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7) % 26);
  return s;
}

// --- The ring on its own -------------------------------------------------------------

TEST(ReceiveRing, HoldsAtMost4095Bytes) {
  ReceiveRing ring;
  ASSERT_EQ(ring.capacity(), 4096);
  EXPECT_EQ(ring.used(), 0);
  EXPECT_EQ(ring.free(), 4095);
  const std::string data = Pattern(5000);
  ring.put(reinterpret_cast<const unsigned char*>(data.data()), 4095);
  EXPECT_EQ(ring.used(), 4095);
  EXPECT_EQ(ring.free(), 0);
  ring.put(reinterpret_cast<const unsigned char*>(data.data()), 10);  // no room: ignored
  EXPECT_EQ(ring.used(), 4095);
  std::vector<unsigned char> out(5000);
  EXPECT_EQ(ring.take(out.data(), 5000), 4095);
  EXPECT_EQ(std::memcmp(out.data(), data.data(), 4095), 0);
  EXPECT_EQ(ring.used(), 0);
}

TEST(ReceiveRing, WrapsAroundItsEnd) {
  ReceiveRing ring;
  std::vector<unsigned char> out(4096);
  const std::string first(3000, 'x');
  ring.put(reinterpret_cast<const unsigned char*>(first.data()), 3000);
  ASSERT_EQ(ring.take(out.data(), 3000), 3000);
  // 2000 bytes from offset 3000: 1096 up to the end, 904 from the start.
  std::string second(2000, 'y');
  second[1500] = '\n';
  ring.put(reinterpret_cast<const unsigned char*>(second.data()), 2000);
  EXPECT_EQ(ring.used(), 2000);
  EXPECT_EQ(ring.free(), 2095);
  EXPECT_EQ(ring.find('\n'), 1500);
  EXPECT_EQ(ring.find('z'), -1);
  ASSERT_EQ(ring.take(out.data(), 4096), 2000);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), 2000), second);
}

// --- Lines and blocks over a connection --------------------------------------------

TEST(ReceiveLine, StatusLineComesBackWithItsLineEnd) {
  LoopbackPeer peer;
  peer.Send("HTTP/1.1 200 OK\r\nServer: x\r\n\r\n");
  peer.Start();
  auto c = ConnectTo(peer.port());
  char line[1024];
  std::memset(line, '#', sizeof line);
  ASSERT_EQ(c->receiveLine('\n', line, 1024), 17);
  EXPECT_EQ(std::string(line, 18), std::string("HTTP/1.1 200 OK\r\n\0", 18));
  ASSERT_EQ(c->receiveLine('\n', line, 1024), 11);
  EXPECT_STREQ(line, "Server: x\r\n");
  ASSERT_EQ(c->receiveLine('\n', line, 1024), 2);
  EXPECT_STREQ(line, "\r\n");
  EXPECT_EQ(c->receiveLine('\n', line, 1024), 0);
}

TEST(ReceiveLine, LongLineComesInPiecesOf1023) {
  const std::string body = Pattern(1999) + "\n";
  LoopbackPeer peer;
  peer.SendSplit(body, {700}, 50);
  peer.Start();
  auto c = ConnectTo(peer.port());
  std::vector<char> line(1024);
  ASSERT_EQ(c->receiveLine('\n', line.data(), 1024), 1023);
  EXPECT_EQ(std::string(line.data()), body.substr(0, 1023));
  ASSERT_EQ(c->receiveLine('\n', line.data(), 1024), 977);
  EXPECT_EQ(std::string(line.data()), body.substr(1023));
  EXPECT_EQ(line[976], '\n');
  EXPECT_EQ(c->receiveLine('\n', line.data(), 1024), 0);
}

TEST(ReceiveLine, BytesWithoutDelimiterBeforeCloseComeBackThenZero) {
  LoopbackPeer peer;
  peer.Send("abc");
  peer.Start();
  auto c = ConnectTo(peer.port());
  char line[1024];
  ASSERT_EQ(c->receiveLine('\n', line, 1024), 3);
  EXPECT_STREQ(line, "abc");
  EXPECT_EQ(c->receiveLine('\n', line, 1024), 0);
}

TEST(ReceiveLine, FullRingEndsALineWithoutWaitingForMore) {
  // 5000 bytes without a delimiter and a peer that then says nothing: the call returns
  // once 4095 bytes fill the ring, long before the receive limit.
  const std::string data = Pattern(5000);
  LoopbackPeer peer;
  peer.Send(data).Silent(5000);
  peer.Start();
  auto c = ConnectTo(peer.port(), Timeouts{2000, 4000});
  const auto start = Clock::now();
  std::vector<char> line(1024);
  ASSERT_EQ(c->receiveLine('\n', line.data(), 1024), 1023);
  EXPECT_LT(MsSince(start), 3000);
  EXPECT_EQ(std::string(line.data()), data.substr(0, 1023));
  // The ring still holds the next 3072 bytes, and the last 905 follow from the socket.
  std::vector<char> rest(4096);
  ASSERT_EQ(c->receive(rest.data(), 3072), 3072);
  EXPECT_EQ(std::string(rest.data(), 3072), data.substr(1023, 3072));
  ASSERT_EQ(c->receive(rest.data(), 905), 905);
  EXPECT_EQ(std::string(rest.data(), 905), data.substr(4095));
}

TEST(ReceiveLine, SmallDestinationCutsTheLine) {
  LoopbackPeer peer;
  peer.Send("0123456789\n");
  peer.Start();
  auto c = ConnectTo(peer.port());
  char line[5];
  ASSERT_EQ(c->receiveLine('\n', line, 5), 4);
  EXPECT_STREQ(line, "0123");
  ASSERT_EQ(c->receiveLine('\n', line, 5), 4);
  EXPECT_STREQ(line, "4567");
  ASSERT_EQ(c->receiveLine('\n', line, 5), 3);
  EXPECT_STREQ(line, "89\n");
}

TEST(Receive, BufferedBytesComeWithWhatOneReceiveBrings) {
  LoopbackPeer peer;
  peer.Send("line\n" + std::string(100, 'b')).Pause(300).Send(std::string(50, 'c'));
  peer.Start();
  auto c = ConnectTo(peer.port());
  char line[1024];
  ASSERT_EQ(c->receiveLine('\n', line, 1024), 5);
  std::vector<char> block(1024);
  // 100 from the ring, then one receive that waits for the next 50.
  ASSERT_EQ(c->receive(block.data(), 1024), 150);
  EXPECT_EQ(std::string(block.data(), 150), std::string(100, 'b') + std::string(50, 'c'));
  EXPECT_EQ(c->receive(block.data(), 1024), 0);
}

TEST(Receive, RingAloneAnswersWithoutTouchingTheSocket) {
  // The peer stays silent after its bytes: a request the ring can satisfy must not wait.
  LoopbackPeer peer;
  peer.Send("x\nABCDEFGH").Silent(5000);
  peer.Start();
  auto c = ConnectTo(peer.port(), Timeouts{2000, 4000});
  char line[16];
  ASSERT_EQ(c->receiveLine('\n', line, 16), 2);
  // The bytes came in one segment with the line; wait until they are surely in the ring.
  char block[8];
  const auto start = Clock::now();
  ASSERT_EQ(c->receive(block, 4), 4);
  EXPECT_EQ(std::string(block, 4), "ABCD");
  ASSERT_EQ(c->receive(block, 4), 4);
  EXPECT_EQ(std::string(block, 4), "EFGH");
  EXPECT_LT(MsSince(start), 1000);
}

// --- Sending -------------------------------------------------------------------------

TEST(Send, SendAllDeliversEveryByteInOrder) {
  const std::string data = Pattern(std::size_t{8} << 20);
  LoopbackPeer peer;
  peer.ReadBytes(data.size());
  peer.Start();
  auto c = ConnectTo(peer.port(), Timeouts{2000, 5000});
  EXPECT_EQ(c->sendAll(data.data(), static_cast<int>(data.size())), static_cast<int>(data.size()));
  ASSERT_TRUE(peer.Wait(10000));
  EXPECT_TRUE(peer.Request() == data);
}

TEST(Send, OneSendMayTakeFewerBytesThanOffered) {
  LoopbackPeer peer;
  peer.StopReading(3000);
  peer.Start();
  auto c = ConnectTo(peer.port(), Timeouts{2000, 500});
  const std::string data = Pattern(std::size_t{32} << 20);
  const int sent = c->sendBytes(data.data(), static_cast<int>(data.size()));
  EXPECT_GT(sent, 0);
  EXPECT_LT(sent, static_cast<int>(data.size()));
}

TEST(Send, PeerThatStopsReadingTimesOutTheSend) {
  LoopbackPeer peer;
  peer.StopReading(5000);
  peer.Start();
  auto c = ConnectTo(peer.port(), Timeouts{2000, 300});
  const std::string data = Pattern(std::size_t{64} << 20);
  const auto start = Clock::now();
  EXPECT_EQ(c->sendAll(data.data(), static_cast<int>(data.size())), -1);
  EXPECT_LT(MsSince(start), 4000);
}

// --- Failures and limits ---------------------------------------------------------------

TEST(Resolve, NameNeitherLookUpFindsFailsAndConnectFailsAfter) {
  TcpConnection c;
  EXPECT_EQ(c.resolve(test::kUnresolvableHost, 80), -1);
  EXPECT_EQ(c.connectToPeer(), -1);
}

TEST(Resolve, DottedAndLocalNamesResolve) {
  LoopbackPeer peer;
  peer.Send("hi");
  peer.Start();
  TcpConnection c;
  c.setTimeouts(kTestTimeouts);
  EXPECT_EQ(c.resolve("localhost", peer.port()), 0);
  EXPECT_EQ(c.resolve("127.0.0.1", peer.port()), 0);
  ASSERT_EQ(c.connectToPeer(), 0);
  char buffer[8];
  EXPECT_EQ(c.receive(buffer, 2), 2);
}

TEST(Connect, RefusedPortFails) {
  TcpConnection c;
  c.setTimeouts(kTestTimeouts);
  ASSERT_EQ(c.resolve("127.0.0.1", LoopbackPeer::ClosedPort()), 0);
  EXPECT_EQ(c.connectToPeer(), -1);
}

TEST(Connect, UnansweredConnectGivesUpAtItsLimit) {
  LoopbackPeer peer(0);
  peer.SaturateBacklog();
  TcpConnection c;
  c.setTimeouts(Timeouts{300, 2000});
  ASSERT_EQ(c.resolve("127.0.0.1", peer.port()), 0);
  const auto start = Clock::now();
  EXPECT_EQ(c.connectToPeer(), -1);
  const long long took = MsSince(start);
  EXPECT_GE(took, 250);
  EXPECT_LT(took, 3000);
}

TEST(Receive, SilentPeerTimesOutEveryRead) {
  LoopbackPeer peer;
  peer.Silent(5000);
  peer.Start();
  auto c = ConnectTo(peer.port(), Timeouts{2000, 300});
  char buffer[64];
  auto start = Clock::now();
  EXPECT_LT(c->receiveLine('\n', buffer, 64), 0);
  EXPECT_LT(MsSince(start), 2500);
  start = Clock::now();
  EXPECT_LT(c->receive(buffer, 64), 0);
  EXPECT_LT(MsSince(start), 2500);
}

TEST(Receive, ResetIsAnError) {
  if (LoopbackPeer::ResetsReadAsClose()) GTEST_SKIP() << "a reset reads as a close here";
  LoopbackPeer peer;
  peer.ReadBytes(4).Reset();
  peer.Start();
  auto c = ConnectTo(peer.port());
  ASSERT_EQ(c->sendAll("ping", 4), 4);
  char buffer[64];
  EXPECT_LT(c->receiveLine('\n', buffer, 64), 0);
}

TEST(LiveCount, CountsConnectionsAliveTogether) {
  const int before = TcpConnection::liveCount();
  {
    TcpConnection first;
    EXPECT_EQ(TcpConnection::liveCount(), before + 1);
    {
      TcpConnection second;
      EXPECT_EQ(TcpConnection::liveCount(), before + 2);
    }
    EXPECT_EQ(TcpConnection::liveCount(), before + 1);
  }
  EXPECT_EQ(TcpConnection::liveCount(), before);
}

}  // namespace
}  // namespace qlan
