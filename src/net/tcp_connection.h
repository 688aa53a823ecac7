// One blocking IPv4 TCP connection with a 4096-byte receive ring, for one HTTP exchange.
#pragma once
#include <cstdint>

namespace qlan {

// The bytes received but not yet handed out. Holds at most capacity - 1 bytes.
class ReceiveRing {
 public:
  ReceiveRing() noexcept;
  ~ReceiveRing();
  ReceiveRing(const ReceiveRing&) = delete;
  ReceiveRing& operator=(const ReceiveRing&) = delete;

  std::int32_t capacity() const noexcept { return capacity_; }
  std::int32_t used() const noexcept;
  std::int32_t free() const noexcept { return capacity_ == 0 ? 0 : capacity_ - used() - 1; }
  // Offset of the first byte equal to b from the read position, or -1.
  std::int32_t find(unsigned char b) const noexcept;
  // Appends n bytes (n <= free()).
  void put(const unsigned char* data, std::int32_t n) noexcept;
  // Moves up to n bytes out; returns how many.
  std::int32_t take(unsigned char* out, std::int32_t n) noexcept;

 private:
  unsigned char* start_;
  std::int32_t capacity_;
  unsigned char* end_;
  unsigned char* read_;
  unsigned char* write_;
};

// Time limits of one connection; the program uses the defaults, tests shorten them.
struct Timeouts {
  int connectMs = 20000;
  int transferMs = 30000;  // any single send or receive without progress
};

class TcpConnection {
 public:
  TcpConnection() noexcept;
  ~TcpConnection();
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  void setTimeouts(const Timeouts& t) noexcept { timeouts_ = t; }

  // 0, or -1 when the host cannot be found.
  int resolve(const char* host, int port) noexcept;
  // 0, or -1 on failure or time-out.
  int connectToPeer() noexcept;
  // Bytes accepted by one platform send (possibly fewer than count), or -1 (also on
  // time-out).
  int sendBytes(const void* data, int count) noexcept;
  // Sends every byte, continuing partial sends; count on success, -1 on failure.
  int sendAll(const void* data, int count) noexcept;
  // Bytes delivered (0 when the peer closed), or a negative value on error or time-out.
  int receive(void* destination, int count) noexcept;
  // A line up to and including delimiter, NUL-terminated in destination (size bytes);
  // the count stored before the NUL, 0 at end of stream, or negative on error.
  int receiveLine(unsigned char delimiter, char* destination, int size) noexcept;

  // Live connections in this process (the socket library is started while it is above 0).
  static int liveCount() noexcept;

 private:
  std::intptr_t socket_;
  bool resolved_ = false;
  unsigned char peerAddress_[16] = {};
  int peerPort_ = 0;
  ReceiveRing ring_;
  Timeouts timeouts_;
};

}  // namespace qlan
