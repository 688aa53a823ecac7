// The scriptable loopback peer: script steps over a thin socket layer for POSIX and Winsock.
#include "support/loopback_peer.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace qlan::test {

// One start per peer and per ClosedPort, so that Winsock is stopped again between tests.
struct SocketLibrary {
#ifdef _WIN32
  SocketLibrary() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~SocketLibrary() { ::WSACleanup(); }
  SocketLibrary(const SocketLibrary&) = delete;
  SocketLibrary& operator=(const SocketLibrary&) = delete;
#endif
};

namespace {

using Clock = std::chrono::steady_clock;
using Socket = LoopbackPeer::Socket;

constexpr Socket kNone = -1;
constexpr int kSliceMs = 20;
constexpr int kStepBoundMs = 10000;  // no single read step waits longer
constexpr int kDrainBoundMs = 5000;  // reading after our side has ended

#ifdef _WIN32
using Native = SOCKET;
using Length = int;
// FIONBIO, spelled out: the header's macro trips the sign-conversion warning.
constexpr long kNonBlockingIo = static_cast<long>(0x8004667EUL);
void CloseNative(Native s) { ::closesocket(s); }
void SetBlocking(Native s, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  ::ioctlsocket(s, kNonBlockingIo, &nonBlocking);
}
bool ConnectPending() { return ::WSAGetLastError() == WSAEWOULDBLOCK; }
int PollOne(Native s, short events, int ms) {
  WSAPOLLFD p{s, events, 0};
  return ::WSAPoll(&p, 1, ms);
}
using Count = int;
constexpr int kSocketFlags = 0;
constexpr int kNoSignal = 0;
DWORD SendBound() { return 5000; }
#else
using Native = int;
using Length = socklen_t;
void CloseNative(Native s) { ::close(s); }
void SetBlocking(Native s, bool blocking) {
  const int flags = ::fcntl(s, F_GETFL, 0);
  ::fcntl(s, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
}
bool ConnectPending() { return errno == EINPROGRESS; }
int PollOne(Native s, short events, int ms) {
  pollfd p{s, events, 0};
  const int r = ::poll(&p, 1, ms);
  return r < 0 && errno == EINTR ? 0 : r;
}
using Count = std::size_t;
constexpr int kSocketFlags = SOCK_CLOEXEC;
constexpr int kNoSignal = MSG_NOSIGNAL;
timeval SendBound() { return {5, 0}; }
#endif

Native N(Socket s) { return static_cast<Native>(s); }

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// Bounds a blocking send to a client that has stopped reading.
Socket Bounded(Native s) {
  const auto limit = SendBound();
  ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
  return static_cast<Socket>(s);
}

Socket Listen(int backlog, int* port) {
  const Native s = ::socket(AF_INET, SOCK_STREAM | kSocketFlags, 0);
  sockaddr_in a = Loopback(0);
  Length length = sizeof a;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, backlog) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
    CloseNative(s);
    return kNone;
  }
  *port = ntohs(a.sin_port);
  return static_cast<Socket>(s);
}

Socket Accept(Socket listener) {
  if (PollOne(N(listener), POLLIN, kSliceMs) <= 0) return kNone;
  const Native s = ::accept(N(listener), nullptr, nullptr);
  if (static_cast<Socket>(s) == kNone) return kNone;
  SetBlocking(s, true);
  return Bounded(s);
}

// A connection that completes within ms, or kNone.
Socket ConnectTo(int port, int ms) {
  const Native s = ::socket(AF_INET, SOCK_STREAM | kSocketFlags, 0);
  SetBlocking(s, false);
  const sockaddr_in a = Loopback(port);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 &&
      (!ConnectPending() || PollOne(s, POLLOUT, ms) <= 0)) {
    CloseNative(s);
    return kNone;
  }
  SetBlocking(s, true);
  return Bounded(s);
}

bool SendAll(Socket s, const char* data, std::size_t n) {
  while (n > 0) {
    const int sent = static_cast<int>(
        ::send(N(s), data, static_cast<Count>(std::min<std::size_t>(n, 65536)), kNoSignal));
    if (sent <= 0) return false;
    data += sent;
    n -= static_cast<std::size_t>(sent);
  }
  return true;
}

// End of a request head: the blank line after CR LF or bare LF lines.
std::size_t HeadEnd(const std::string& data) {
  const std::size_t lf = data.find("\n\n"), crlf = data.find("\n\r\n");
  const std::size_t at = std::min(lf, crlf);
  return at == std::string::npos ? at : at + (at == lf ? 2 : 3);
}

// The Content-Length of a head, letter case ignored; 0 when it has none.
std::size_t BodyLength(std::string head) {
  std::transform(head.begin(), head.end(), head.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::size_t at = head.find("\ncontent-length:");
  if (at == std::string::npos) return 0;
  return static_cast<std::size_t>(std::strtoull(head.c_str() + at + 16, nullptr, 10));
}

}  // namespace

LoopbackPeer::LoopbackPeer(int backlog)
    : library_(std::make_shared<SocketLibrary>()), listener_(Listen(backlog, &port_)) {}

LoopbackPeer::~LoopbackPeer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  for (Socket s : fillers_) CloseNative(N(s));
  if (listener_ != kNone) CloseNative(N(listener_));
}

void LoopbackPeer::Start(int connections) {
  requests_.assign(static_cast<std::size_t>(connections), std::string());  // before the thread
  connections_ = connections;
  thread_ = std::thread([this, connections] { Serve(connections); });
}

template <typename Ready>
bool LoopbackPeer::WaitFor(int ms, Ready ready) const {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (!ready()) {
    if (stop_ || Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool LoopbackPeer::Wait(int ms) {
  return WaitFor(ms, [this] { return done_ || scripted_ >= connections_; });
}

bool LoopbackPeer::WaitClosed(int ms) {
  return WaitFor(ms, [this] { return done_.load(); });
}

std::string LoopbackPeer::Request(std::size_t index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return index < requests_.size() ? requests_[index] : std::string();
}

void LoopbackPeer::SaturateBacklog() {
  // Each queued connection completes at once; the first that does not marks a full queue.
  for (int i = 0; i < 16; ++i) {
    const Socket s = ConnectTo(port_, 200);
    if (s == kNone) return;
    fillers_.push_back(s);
  }
}

int LoopbackPeer::ClosedPort() {
  [[maybe_unused]] const SocketLibrary library;
  int closedPort = 0;
  const Socket s = Listen(1, &closedPort);
  if (s != kNone) CloseNative(N(s));
  return closedPort;
}

bool LoopbackPeer::Sleep(int ms) {
  WaitFor(ms, [] { return false; });
  return !stop_;
}

template <typename Done>
bool LoopbackPeer::ReadUntil(Socket s, std::size_t index, int boundMs, Done done) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(boundMs);
  char buffer[4096];
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (done(requests_[index])) return true;
    }
    if (stop_ || Clock::now() >= deadline) return false;
    const int ready = PollOne(N(s), POLLIN, kSliceMs);
    if (ready < 0) return false;
    if (ready == 0) continue;
    const int n = static_cast<int>(::recv(N(s), buffer, sizeof buffer, 0));
    if (n <= 0) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    requests_[index].append(buffer, static_cast<std::size_t>(n));
  }
}

void LoopbackPeer::Serve(int connections) {
  for (int i = 0; i < connections && !stop_; ++i) {
    Socket s = kNone;
    if (!WaitFor(kStepBoundMs, [&] { return (s = Accept(listener_)) != kNone; })) break;
    RunScript(s, static_cast<std::size_t>(i));
  }
  done_ = true;
}

void LoopbackPeer::RunScript(Socket s, std::size_t index) {
  std::size_t consumed = 0;  // bytes of the record that earlier read steps took
  for (const Step& step : steps_) {
    switch (step.kind) {
      case Step::kReadRequest: {
        std::size_t want = std::string::npos;
        ReadUntil(s, index, kStepBoundMs, [&](const std::string& data) {
          const std::string rest = data.substr(std::min(consumed, data.size()));
          const std::size_t head = HeadEnd(rest);
          if (head == std::string::npos) return false;
          want = head + BodyLength(rest.substr(0, head));
          return rest.size() >= want;
        });
        if (want != std::string::npos) consumed += want;
        break;
      }
      case Step::kSend: {
        std::size_t from = 0;
        std::vector<std::size_t> cuts = step.cuts;
        cuts.push_back(step.bytes.size());
        for (std::size_t cut : cuts) {
          cut = std::min(cut, step.bytes.size());
          if (cut < from) continue;
          if ((from > 0 && !Sleep(step.ms)) || !SendAll(s, step.bytes.data() + from, cut - from)) {
            break;
          }
          from = cut;
        }
        break;
      }
      case Step::kPause:
        Sleep(step.ms);
        break;
      case Step::kSilent:
        ReadUntil(s, index, step.ms, [](const std::string&) { return false; });
        break;
      case Step::kReset: {
        ++scripted_;
        const linger hard{1, 0};
        ::setsockopt(N(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard),
                     sizeof hard);
        CloseNative(N(s));
        return;
      }
    }
  }
  ++scripted_;
  // Our side ends with a FIN (1: SD_SEND, SHUT_WR); reading on until the client closes keeps
  // unread request bytes from turning the close into a reset.
  ::shutdown(N(s), 1);
  ReadUntil(s, index, kDrainBoundMs, [](const std::string&) { return false; });
  CloseNative(N(s));
}

}  // namespace qlan::test
