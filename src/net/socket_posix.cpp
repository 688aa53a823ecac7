// POSIX side of the socket seam, so the connection and the HTTP layer run natively.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "net/socket_api.h"
#include "net/socket_lookup.h"

namespace qlan::socket_api {
namespace {

using Clock = std::chrono::steady_clock;

int Fd(SocketHandle socket) { return static_cast<int>(socket); }

// Waits until the socket is ready for events; false on time-out or failure.
bool WaitFor(SocketHandle socket, short events, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() < 0) return false;
    pollfd p{Fd(socket), events, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left.count()));
    if (r > 0) return true;  // errors and hang-ups show up in the call that follows
    if (r == 0) return false;
    if (errno != EINTR) return false;
  }
}

bool IsWouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

}  // namespace

void StartLibrary() noexcept {}
void StopLibrary() noexcept {}

SocketHandle OpenStreamSocket() noexcept {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  // The descriptor is the handle: the connection owns it and closes it in its destructor.
  // cppcheck-suppress resourceLeak
  return fd < 0 ? kNoSocket : fd;
}

void CloseSocket(SocketHandle socket) noexcept {
  if (socket != kNoSocket) ::close(Fd(socket));
}

bool ResolveIPv4(const char* host, unsigned char (&address)[4]) noexcept {
  return LookUpIPv4(host, address);
}

int Connect(SocketHandle socket, const unsigned char (&peer)[16], int timeoutMs) noexcept {
  if (socket == kNoSocket) return -1;
  const sockaddr_in address = PeerSocketAddress(peer);
  const int flags = ::fcntl(Fd(socket), F_GETFL, 0);
  if (flags < 0 || ::fcntl(Fd(socket), F_SETFL, flags | O_NONBLOCK) != 0) return -1;
  if (::connect(Fd(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
    return 0;
  if (errno != EINPROGRESS && errno != EINTR) return -1;
  if (!WaitFor(socket, POLLOUT, timeoutMs)) return -1;
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(Fd(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return -1;
  return 0;
}

int SendSome(SocketHandle socket, const void* data, int count, int timeoutMs) noexcept {
  if (socket == kNoSocket || count < 0) return -1;
  if (count == 0) return 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const ssize_t sent = ::send(Fd(socket), data, static_cast<std::size_t>(count), MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<int>(sent);
    if (!IsWouldBlock(errno)) return -1;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (!WaitFor(socket, POLLOUT, static_cast<int>(left.count()))) return -1;
  }
}

int ReceiveSome(SocketHandle socket, void* destination, int count, int timeoutMs) noexcept {
  if (socket == kNoSocket || count < 0) return -1;
  if (count == 0) return 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const ssize_t got = ::recv(Fd(socket), destination, static_cast<std::size_t>(count), 0);
    if (got >= 0) return static_cast<int>(got);
    if (!IsWouldBlock(errno)) return -1;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (!WaitFor(socket, POLLIN, static_cast<int>(left.count()))) return -1;
  }
}

}  // namespace qlan::socket_api
