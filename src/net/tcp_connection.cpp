// The connection: the receive ring, line and block reads over it, and the socket
// library's start and stop, counted over the live connections.
#include "net/tcp_connection.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "net/socket_api.h"

namespace qlan {
namespace {

constexpr std::int32_t kRingSize = 4096;
constexpr int kScratchSize = 1024;

// Connections are made and destroyed on the dialog's one thread.
int g_liveConnections = 0;

}  // namespace

ReceiveRing::ReceiveRing() noexcept
    : start_(new (std::nothrow) unsigned char[kRingSize]),
      capacity_(start_ != nullptr ? kRingSize : 0),
      end_(start_ + capacity_),
      read_(start_),
      write_(start_) {}

ReceiveRing::~ReceiveRing() { delete[] start_; }

std::int32_t ReceiveRing::used() const noexcept {
  if (read_ <= write_) return static_cast<std::int32_t>(write_ - read_);
  return capacity_ - static_cast<std::int32_t>(read_ - write_);
}

std::int32_t ReceiveRing::find(unsigned char b) const noexcept {
  const std::int32_t n = used();
  const unsigned char* p = read_;
  for (std::int32_t i = 0; i < n; ++i) {
    if (*p == b) return i;
    if (++p == end_) p = start_;
  }
  return -1;
}

void ReceiveRing::put(const unsigned char* data, std::int32_t n) noexcept {
  n = std::min(n, free());
  if (n <= 0) return;
  const std::int32_t first = std::min(n, static_cast<std::int32_t>(end_ - write_));
  std::memcpy(write_, data, static_cast<std::size_t>(first));
  std::memcpy(start_, data + first, static_cast<std::size_t>(n - first));
  write_ += first;
  if (write_ == end_) write_ = start_;
  write_ += n - first;
}

std::int32_t ReceiveRing::take(unsigned char* out, std::int32_t n) noexcept {
  n = std::min(n, used());
  if (n <= 0) return 0;
  const std::int32_t first = std::min(n, static_cast<std::int32_t>(end_ - read_));
  std::memcpy(out, read_, static_cast<std::size_t>(first));
  std::memcpy(out + first, start_, static_cast<std::size_t>(n - first));
  read_ += first;
  if (read_ == end_) read_ = start_;
  read_ += n - first;
  return n;
}

TcpConnection::TcpConnection() noexcept {
  if (g_liveConnections++ == 0) socket_api::StartLibrary();
  socket_ = socket_api::OpenStreamSocket();
}

TcpConnection::~TcpConnection() {
  socket_api::CloseSocket(socket_);
  if (--g_liveConnections == 0) socket_api::StopLibrary();
}

int TcpConnection::liveCount() noexcept { return g_liveConnections; }

int TcpConnection::resolve(const char* host, int port) noexcept {
  unsigned char address[4] = {};
  if (!socket_api::ResolveIPv4(host, address)) return -1;
  resolved_ = true;
  peerPort_ = port;
  // The 16-byte IPv4 socket address: family, port in network order, address, zeros.
  std::memset(peerAddress_, 0, sizeof peerAddress_);
  peerAddress_[0] = 2;  // AF_INET, in the little-endian order of both platforms
  peerAddress_[2] = static_cast<unsigned char>((port >> 8) & 0xFF);
  peerAddress_[3] = static_cast<unsigned char>(port & 0xFF);
  std::memcpy(peerAddress_ + 4, address, 4);
  return 0;
}

int TcpConnection::connectToPeer() noexcept {
  if (!resolved_) return -1;
  return socket_api::Connect(socket_, peerAddress_, timeouts_.connectMs);
}

int TcpConnection::sendBytes(const void* data, int count) noexcept {
  return socket_api::SendSome(socket_, data, count, timeouts_.transferMs);
}

int TcpConnection::sendAll(const void* data, int count) noexcept {
  if (count < 0) return -1;
  const auto* bytes = static_cast<const unsigned char*>(data);
  int done = 0;
  while (done < count) {
    const int sent = sendBytes(bytes + done, count - done);
    if (sent <= 0) return -1;
    done += sent;
  }
  return count;
}

int TcpConnection::receive(void* destination, int count) noexcept {
  if (count <= 0) return 0;
  auto* out = static_cast<unsigned char*>(destination);
  const int n = ring_.take(out, count);
  if (count - n == 0) return n;
  const int r = socket_api::ReceiveSome(socket_, out + n, count - n, timeouts_.transferMs);
  if (r < 0) return r;
  return n + r;
}

int TcpConnection::receiveLine(unsigned char delimiter, char* destination, int size) noexcept {
  if (destination == nullptr || size < 1) return -1;
  unsigned char scratch[kScratchSize];
  int take = size - 1;
  for (;;) {
    const std::int32_t at = ring_.find(delimiter);
    if (at >= 0) {
      take = std::min(at + 1, size - 1);
      break;
    }
    const std::int32_t room = ring_.free();
    if (room < 1) break;
    const int got = socket_api::ReceiveSome(socket_, scratch, std::min(room, kScratchSize),
                                            timeouts_.transferMs);
    if (got < 0) return got;
    if (got == 0) break;
    ring_.put(scratch, got);
  }
  const int delivered = receive(destination, take);
  if (delivered < 0) return delivered;
  destination[delivered] = '\0';
  return delivered;
}

}  // namespace qlan
