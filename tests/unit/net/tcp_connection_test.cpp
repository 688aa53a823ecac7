// The receive ring, a line that fills it and the connect time-out of TcpConnection; the
// download and upload tests send and read lines through it in pieces.
#include "net/tcp_connection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net_test_support.h"
#include "support/loopback_peer.h"

namespace qlan::test {
namespace {

const unsigned char* U(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

TEST(ReceiveRing, HoldsAtMost4095BytesAndWrapsAroundItsEnd) {
  ReceiveRing ring;
  ASSERT_EQ(ring.capacity(), 4096);
  const std::string data = Pattern(4095);
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

TEST(Receive, FullRingEndsALineAndTheRingAnswersAloneOrWithOneReceive) {
  // 5000 bytes without a delimiter, then silence: the line ends once 4095 bytes fill the
  // ring, and what the ring holds comes without waiting, long before the receive limit.
  const std::string data = Pattern(5000);
  LoopbackPeer peer;
  peer.Send(data).Silent(5000).Start();
  TcpConnection c;
  c.setTimeouts(Timeouts{2000, 4000});
  ASSERT_TRUE(c.resolve("127.0.0.1", peer.port()) == 0 && c.connectToPeer() == 0);
  const auto start = Clock::now();
  std::vector<char> buffer(4096);
  ASSERT_EQ(c.receiveLine('\n', buffer.data(), 1024), 1023);
  EXPECT_EQ(std::string(buffer.data()), data.substr(0, 1023));
  ASSERT_EQ(c.receive(buffer.data(), 1000), 1000);  // the ring alone
  EXPECT_EQ(std::string(buffer.data(), 1000), data.substr(1023, 1000));
  // The ring's other 2072 bytes, then one receive for the last 905.
  ASSERT_EQ(c.receive(buffer.data(), 2977), 2977);
  EXPECT_EQ(std::string(buffer.data(), 2977), data.substr(2023));
  EXPECT_LT(MsSince(start), 3000);
}

TEST(Connect, UnansweredConnectGivesUpAtItsLimit) {
  LoopbackPeer peer(0);
  peer.SaturateBacklog();
  TcpConnection c;
  c.setTimeouts(Timeouts{300, 2000});
  ASSERT_EQ(c.resolve("127.0.0.1", peer.port()), 0);
  const auto start = Clock::now();
  EXPECT_EQ(c.connectToPeer(), -1);
  EXPECT_GE(MsSince(start), 250);
  EXPECT_LT(MsSince(start), 3000);
}

}  // namespace
}  // namespace qlan::test
