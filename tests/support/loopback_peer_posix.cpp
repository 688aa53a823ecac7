// POSIX half of the loopback peer.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "support/loopback_peer.h"

namespace qlan::test::peer_io {
namespace {

int Fd(Socket s) { return static_cast<int>(s); }

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

int PollFor(Socket s, short events, int ms) {
  pollfd p{Fd(s), events, 0};
  const int r = ::poll(&p, 1, ms);
  if (r < 0) return errno == EINTR ? 0 : -1;
  return r;
}

// Bounds a blocking send to a client that has stopped reading.
void BoundSends(int fd) {
  timeval limit{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

}  // namespace

void StartLibrary() {}
void StopLibrary() {}

Socket Listen(int backlog, int* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return LoopbackPeer::kNone;
  sockaddr_in a = Loopback(0);
  socklen_t length = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
    ::close(fd);
    return LoopbackPeer::kNone;
  }
  *port = ntohs(a.sin_port);
  return fd;
}

Socket Accept(Socket listener, int ms) {
  if (PollFor(listener, POLLIN, ms) <= 0) return LoopbackPeer::kNone;
  const int fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return LoopbackPeer::kNone;
  BoundSends(fd);
  return fd;
}

Socket ConnectTo(int port, int ms) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return LoopbackPeer::kNone;
  const sockaddr_in a = Loopback(port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    int error = 0;
    socklen_t length = sizeof error;
    if (errno != EINPROGRESS || PollFor(fd, POLLOUT, ms) <= 0 ||
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
      ::close(fd);
      return LoopbackPeer::kNone;
    }
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL, 0) & ~O_NONBLOCK);
  BoundSends(fd);
  return fd;
}

int WaitReadable(Socket s, int ms) { return PollFor(s, POLLIN, ms); }

int ReceiveSome(Socket s, char* buffer, int size) {
  for (;;) {
    const ssize_t n = ::recv(Fd(s), buffer, static_cast<std::size_t>(size), 0);
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return -1;
  }
}

bool SendAll(Socket s, const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t sent = ::send(Fd(s), data, n, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += sent;
    n -= static_cast<std::size_t>(sent);
  }
  return true;
}

void ShutdownWrite(Socket s) { ::shutdown(Fd(s), SHUT_WR); }

void Close(Socket s) { ::close(Fd(s)); }

void ResetAndClose(Socket s) {
  linger hard{1, 0};
  ::setsockopt(Fd(s), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::close(Fd(s));
}

bool ResetsReadAsClose() { return false; }

}  // namespace qlan::test::peer_io
