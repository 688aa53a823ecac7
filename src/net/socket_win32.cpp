// Windows side of the socket seam: Winsock, started and stopped by the connection's count.
#include <winsock2.h>

#include <chrono>

#include "net/socket_api.h"
#include "net/socket_lookup.h"

namespace qlan::socket_api {
namespace {

using Clock = std::chrono::steady_clock;

// FIONBIO, spelled out: the header's macro trips the sign-conversion warning.
constexpr long kNonBlockingIo = static_cast<long>(0x8004667EUL);

// The start-up record WSAStartup fills; one per process.
WSADATA g_startup;

SOCKET Native(SocketHandle socket) { return static_cast<SOCKET>(socket); }

// Waits until the socket is readable (or writable); false on time-out or failure. With
// failed set, a failed non-blocking connect counts as ready, as Winsock reports it apart.
bool WaitFor(SocketHandle socket, bool write, int timeoutMs, bool* failed = nullptr) {
  if (timeoutMs < 0) timeoutMs = 0;
  fd_set ready;
  ready.fd_count = 1;
  ready.fd_array[0] = Native(socket);
  fd_set broken;
  broken.fd_count = 1;
  broken.fd_array[0] = Native(socket);
  timeval limit;
  limit.tv_sec = timeoutMs / 1000;
  limit.tv_usec = (timeoutMs % 1000) * 1000;
  const int r = ::select(0, write ? nullptr : &ready, write ? &ready : nullptr,
                         failed != nullptr ? &broken : nullptr, &limit);
  if (r <= 0) return false;
  if (failed != nullptr) *failed = broken.fd_count != 0;
  return true;
}

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? -1 : static_cast<int>(left.count());
}

}  // namespace

void StartLibrary() noexcept { ::WSAStartup(MAKEWORD(2, 0), &g_startup); }
void StopLibrary() noexcept { ::WSACleanup(); }

SocketHandle OpenStreamSocket() noexcept {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

void CloseSocket(SocketHandle socket) noexcept {
  if (socket != kNoSocket) ::closesocket(Native(socket));
}

bool ResolveIPv4(const char* host, unsigned char (&address)[4]) noexcept {
  return LookUpIPv4(host, address);
}

int Connect(SocketHandle socket, const unsigned char (&peer)[16], int timeoutMs) noexcept {
  if (socket == kNoSocket) return -1;
  const sockaddr_in address = PeerSocketAddress(peer);
  u_long nonBlocking = 1;
  if (::ioctlsocket(Native(socket), kNonBlockingIo, &nonBlocking) != 0) return -1;
  if (::connect(Native(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    return 0;
  }
  if (::WSAGetLastError() != WSAEWOULDBLOCK) return -1;
  bool failed = false;
  if (!WaitFor(socket, true, timeoutMs, &failed) || failed) return -1;
  int error = 0;
  int length = sizeof error;
  if (::getsockopt(Native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                   &length) != 0 ||
      error != 0) {
    return -1;
  }
  return 0;
}

int SendSome(SocketHandle socket, const void* data, int count, int timeoutMs) noexcept {
  if (socket == kNoSocket || count < 0) return -1;
  if (count == 0) return 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const int sent = ::send(Native(socket), static_cast<const char*>(data), count, 0);
    if (sent >= 0) return sent;
    if (::WSAGetLastError() != WSAEWOULDBLOCK) return -1;
    const int left = RemainingMs(deadline);
    if (left < 0 || !WaitFor(socket, true, left)) return -1;
  }
}

int ReceiveSome(SocketHandle socket, void* destination, int count, int timeoutMs) noexcept {
  if (socket == kNoSocket || count < 0) return -1;
  if (count == 0) return 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const int got = ::recv(Native(socket), static_cast<char*>(destination), count, 0);
    if (got >= 0) return got;
    if (::WSAGetLastError() != WSAEWOULDBLOCK) return -1;
    const int left = RemainingMs(deadline);
    if (left < 0 || !WaitFor(socket, false, left)) return -1;
  }
}

}  // namespace qlan::socket_api
