// Winsock half of the loopback peer.
#include <windows.h>
#include <winsock2.h>

#include "support/loopback_peer.h"

namespace qlan::test::peer_io {
namespace {

// FIONBIO, spelled out: the header's macro trips the sign-conversion warning.
constexpr long kNonBlockingIo = static_cast<long>(0x8004667EUL);

SOCKET Native(Socket s) { return static_cast<SOCKET>(s); }

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<u_short>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// 1 ready, 0 not within ms, -1 error; write waits for a connect to finish.
int SelectFor(Socket s, bool write, int ms) {
  fd_set set;
  set.fd_count = 1;
  set.fd_array[0] = Native(s);
  fd_set broken;
  broken.fd_count = 1;
  broken.fd_array[0] = Native(s);
  timeval limit;
  limit.tv_sec = ms / 1000;
  limit.tv_usec = (ms % 1000) * 1000;
  const int r = ::select(0, write ? nullptr : &set, write ? &set : nullptr,
                         write ? &broken : nullptr, &limit);
  if (r < 0) return -1;
  if (r == 0) return 0;
  return write && broken.fd_count != 0 ? -1 : 1;
}

void BoundSends(SOCKET s) {
  DWORD limit = 5000;
  ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
}

}  // namespace

void StartLibrary() {
  WSADATA data;
  ::WSAStartup(MAKEWORD(2, 2), &data);
}

void StopLibrary() { ::WSACleanup(); }

Socket Listen(int backlog, int* port) {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return LoopbackPeer::kNone;
  sockaddr_in a = Loopback(0);
  int length = sizeof a;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, backlog) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
    ::closesocket(s);
    return LoopbackPeer::kNone;
  }
  *port = ntohs(a.sin_port);
  return static_cast<Socket>(s);
}

Socket Accept(Socket listener, int ms) {
  if (SelectFor(listener, false, ms) <= 0) return LoopbackPeer::kNone;
  const SOCKET s = ::accept(Native(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return LoopbackPeer::kNone;
  u_long blocking = 0;
  ::ioctlsocket(s, kNonBlockingIo, &blocking);
  BoundSends(s);
  return static_cast<Socket>(s);
}

Socket ConnectTo(int port, int ms) {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return LoopbackPeer::kNone;
  u_long nonBlocking = 1;
  ::ioctlsocket(s, kNonBlockingIo, &nonBlocking);
  const sockaddr_in a = Loopback(port);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 &&
      (::WSAGetLastError() != WSAEWOULDBLOCK || SelectFor(static_cast<Socket>(s), true, ms) <= 0)) {
    ::closesocket(s);
    return LoopbackPeer::kNone;
  }
  u_long blocking = 0;
  ::ioctlsocket(s, kNonBlockingIo, &blocking);
  BoundSends(s);
  return static_cast<Socket>(s);
}

int WaitReadable(Socket s, int ms) { return SelectFor(s, false, ms); }

int ReceiveSome(Socket s, char* buffer, int size) {
  const int n = ::recv(Native(s), buffer, size, 0);
  return n < 0 ? -1 : n;
}

bool SendAll(Socket s, const char* data, std::size_t n) {
  while (n > 0) {
    const int piece = n > 65536 ? 65536 : static_cast<int>(n);
    const int sent = ::send(Native(s), data, piece, 0);
    if (sent <= 0) return false;
    data += sent;
    n -= static_cast<std::size_t>(sent);
  }
  return true;
}

void ShutdownWrite(Socket s) { ::shutdown(Native(s), SD_SEND); }

void Close(Socket s) { ::closesocket(Native(s)); }

void ResetAndClose(Socket s) {
  linger hard{1, 0};
  ::setsockopt(Native(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
  ::closesocket(Native(s));
}

bool ResetsReadAsClose() {
  // Wine's receive turns the host's ECONNRESET into end of stream.
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace qlan::test::peer_io
