// The receive ring, line and block reads, transfers and time-outs of TcpConnection,
// against loopback peers the tests start themselves.
#include "net/tcp_connection.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net_test_support.h"
#include "support/loopback_peer.h"

namespace qlan {
namespace {

using test::LoopbackPeer;

std::unique_ptr<TcpConnection> ConnectTo(int port, Timeouts timeouts = test::kTestTimeouts) {
  auto c = std::make_unique<TcpConnection>();
  c->setTimeouts(timeouts);
  EXPECT_EQ(c->resolve("127.0.0.1", port), 0);
  EXPECT_EQ(c->connectToPeer(), 0);
  return c;
}

const unsigned char* U(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

TEST(ReceiveRing, HoldsAtMost4095BytesAndWrapsAroundItsEnd) {
  ReceiveRing ring;
  ASSERT_EQ(ring.capacity(), 4096);
  const std::string data = test::Pattern(4095);
  ring.put(U(data), 4095);
  ring.put(U(data), 10);  // no room: ignored
  EXPECT_EQ(ring.free(), 0);
  std::vector<unsigned char> out(5000);
  ASSERT_EQ(ring.take(out.data(), 1000), 1000);
  ASSERT_EQ(ring.take(out.data() + 1000, 5000), 3095);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 4095), data);
  // From offset 4095, 2000 bytes wrap: 1 up to the end and 1999 from the start.
  std::string second(2000, 'y');
  second[1500] = '\n';
  ring.put(U(second), 2000);
  EXPECT_EQ(ring.used(), 2000);
  EXPECT_EQ(ring.free(), 2095);
  EXPECT_EQ(ring.find('\n'), 1500);
  EXPECT_EQ(ring.find('z'), -1);
  ASSERT_EQ(ring.take(out.data(), 4096), 2000);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 2000), second);
  // Both positions carry on from the start of the block after the wrap.
  ring.put(U(std::string("abc")), 3);
  ASSERT_EQ(ring.take(out.data(), 10), 3);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 3), "abc");
}

TEST(ReceiveLine, LinesComeBackWithTheirEndsThenZeroAtTheClose) {
  const std::string longLine = test::Pattern(1999) + "\n";
  const struct {
    std::string sent;
    std::size_t cut;  // sent in two pieces cut here (0: one piece)
    std::vector<std::string> lines;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nServer: x\r\n\r\n", 0, {"HTTP/1.1 200 OK\r\n", "Server: x\r\n", "\r\n"}},
      {longLine, 700, {longLine.substr(0, 1023), longLine.substr(1023)}},  // pieces of 1023
      {"abc", 0, {"abc"}}};  // no delimiter before the close
  for (const auto& c : cases) {
    LoopbackPeer peer;
    peer.SendSplit(c.sent, {c.cut == 0 ? c.sent.size() : c.cut}, 50);
    peer.Start();
    auto conn = ConnectTo(peer.port());
    std::vector<char> line(1024, '#');
    for (const std::string& expected : c.lines) {
      ASSERT_EQ(conn->receiveLine('\n', line.data(), 1024), static_cast<int>(expected.size()));
      EXPECT_EQ(std::string(line.data(), expected.size() + 1), expected + '\0');
    }
    EXPECT_EQ(conn->receiveLine('\n', line.data(), 1024), 0);
  }
}

TEST(Receive, FullRingEndsALineAndTheRingAnswersAloneOrWithOneReceive) {
  // 5000 bytes without a delimiter, then silence: the line ends once 4095 bytes fill the
  // ring, and what the ring holds comes without waiting, long before the receive limit.
  const std::string data = test::Pattern(5000);
  LoopbackPeer peer;
  peer.Send(data).Silent(5000);
  peer.Start();
  auto c = ConnectTo(peer.port(), Timeouts{2000, 4000});
  const auto start = test::Clock::now();
  std::vector<char> buffer(4096);
  ASSERT_EQ(c->receiveLine('\n', buffer.data(), 1024), 1023);
  EXPECT_EQ(std::string(buffer.data()), data.substr(0, 1023));
  ASSERT_EQ(c->receive(buffer.data(), 1000), 1000);  // the ring alone
  EXPECT_EQ(std::string(buffer.data(), 1000), data.substr(1023, 1000));
  // The ring's other 2072 bytes, then one receive for the last 905.
  ASSERT_EQ(c->receive(buffer.data(), 2977), 2977);
  EXPECT_EQ(std::string(buffer.data(), 2977), data.substr(2023));
  EXPECT_LT(test::MsSince(start), 3000);
}

TEST(Send, EveryByteInOrderOrATimeOutWhenThePeerStopsReading) {
  const std::string data = test::Pattern(std::size_t{8} << 20);
  LoopbackPeer peer;
  peer.ReadBytes(data.size());
  peer.Start();
  auto c = ConnectTo(peer.port(), Timeouts{2000, 5000});
  EXPECT_EQ(c->sendAll(data.data(), static_cast<int>(data.size())), static_cast<int>(data.size()));
  ASSERT_TRUE(peer.Wait(10000));
  EXPECT_TRUE(peer.Request() == data);

  LoopbackPeer stalled;
  stalled.StopReading(5000);
  stalled.Start();
  auto s = ConnectTo(stalled.port(), Timeouts{2000, 300});
  const std::string big = test::Pattern(std::size_t{64} << 20);
  const int sent = s->sendBytes(big.data(), static_cast<int>(big.size()));
  EXPECT_GT(sent, 0);
  EXPECT_LT(sent, static_cast<int>(big.size()));
  const auto start = test::Clock::now();
  EXPECT_EQ(s->sendAll(big.data(), static_cast<int>(big.size())), -1);
  EXPECT_LT(test::MsSince(start), 4000);
}

TEST(Connect, NamesResolveAndPeerProblemsFail) {
  LoopbackPeer peer;
  peer.Send("hi");
  peer.Start();
  TcpConnection c;
  EXPECT_EQ(c.resolve("localhost", peer.port()), 0);
  EXPECT_EQ(c.resolve("127.0.0.1", peer.port()), 0);
  ASSERT_EQ(c.connectToPeer(), 0);
  char buffer[8];
  EXPECT_EQ(c.receive(buffer, 2), 2);
  TcpConnection unknown;
  EXPECT_EQ(unknown.resolve(test::kUnresolvableHost, 80), -1);
  EXPECT_EQ(unknown.connectToPeer(), -1);
  TcpConnection refused;
  ASSERT_EQ(refused.resolve("127.0.0.1", LoopbackPeer::ClosedPort()), 0);
  EXPECT_EQ(refused.connectToPeer(), -1);
}

TEST(Connect, UnansweredConnectGivesUpAtItsLimit) {
  LoopbackPeer peer(0);
  peer.SaturateBacklog();
  TcpConnection c;
  c.setTimeouts(Timeouts{300, 2000});
  ASSERT_EQ(c.resolve("127.0.0.1", peer.port()), 0);
  const auto start = test::Clock::now();
  EXPECT_EQ(c.connectToPeer(), -1);
  EXPECT_GE(test::MsSince(start), 250);
  EXPECT_LT(test::MsSince(start), 3000);
}

TEST(Receive, SilentPeerTimesOutEveryRead) {
  LoopbackPeer silent;
  silent.Silent(5000);
  silent.Start();
  auto c = ConnectTo(silent.port(), Timeouts{2000, 300});
  char buffer[64];
  const auto start = test::Clock::now();
  EXPECT_LT(c->receiveLine('\n', buffer, 64), 0);
  EXPECT_LT(c->receive(buffer, 64), 0);
  EXPECT_LT(test::MsSince(start), 4000);
}

TEST(Receive, ResetIsAnError) {
  if (LoopbackPeer::ResetsReadAsClose()) GTEST_SKIP() << "this Wine reads a reset as a close";
  LoopbackPeer reset;
  reset.ReadBytes(4).Reset();
  reset.Start();
  auto r = ConnectTo(reset.port());
  char buffer[64];
  ASSERT_EQ(r->sendAll("ping", 4), 4);
  EXPECT_LT(r->receiveLine('\n', buffer, 64), 0);
}

}  // namespace
}  // namespace qlan
