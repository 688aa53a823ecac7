// Connection handling of the ranking server.
#include "server/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>

#include "net/ranking.h"
#include "server/pages.h"
#include "server/request_head.h"

namespace qlan::server {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWaitSliceMs = 100;  // waits are cut into slices to notice a stop
constexpr int kLingerMs = 2000;    // draining a client's unread bytes before closing
constexpr std::size_t kReadChunk = 16384;

int RemainingMs(Clock::time_point deadline) noexcept {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

Clock::time_point After(int ms) noexcept { return Clock::now() + std::chrono::milliseconds(ms); }

// Waits until fd is ready for events or the deadline passes; false on time-out, error or
// (when stopping is given) a stop.
bool WaitFor(int fd, short events, Clock::time_point deadline,
             const std::atomic<bool>* stopping = nullptr) noexcept {
  for (;;) {
    int left = RemainingMs(deadline);
    if (left == 0) return false;
    if (stopping != nullptr) {
      if (stopping->load()) return false;
      if (left > kWaitSliceMs) left = kWaitSliceMs;
    }
    pollfd p{fd, events, 0};
    const int r = poll(&p, 1, left);
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return false;
  }
}

// Reads what is there (at most kReadChunk bytes) into out, waiting until deadline.
// Bytes read, 0 at end of stream, -1 on error, time-out or stop.
ssize_t ReadSome(int fd, std::string* out, Clock::time_point deadline,
                 const std::atomic<bool>* stopping) {
  if (!WaitFor(fd, POLLIN, deadline, stopping)) return -1;
  char buffer[kReadChunk];
  ssize_t n;
  do {
    n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n > 0) out->append(buffer, static_cast<std::size_t>(n));
  return n;
}

bool WriteAll(int fd, std::string_view data, int timeoutMs) noexcept {
  std::size_t done = 0;
  while (done < data.size()) {
    if (!WaitFor(fd, POLLOUT, After(timeoutMs))) return false;
    const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Half-closes and reads away what the client still sends (the tool puts two LFs after
// its body, and a refused upload may still be on its way), so that closing does not
// reset the connection before the client has read the reply.
void LingeringClose(int fd) noexcept {
  shutdown(fd, SHUT_WR);
  const Clock::time_point deadline = After(kLingerMs);
  std::uint64_t drained = 0;
  char buffer[kReadChunk];
  while (drained <= kMaxEntryBody + kReadChunk && WaitFor(fd, POLLIN, deadline)) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      break;
    }
    drained += static_cast<std::uint64_t>(n);
  }
  close(fd);
}

// The address of the socket's peer as text, "-" when unknown.
std::string PeerAddress(int fd) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  char text[INET6_ADDRSTRLEN] = "-";
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return text;
  if (addr.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&addr)->sin_addr, text, sizeof text);
  } else if (addr.ss_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&addr)->sin6_addr, text, sizeof text);
  }
  return text;
}

std::string Printable(std::string_view text) {
  std::string out;
  for (const char c : text.substr(0, 200)) {
    const auto u = static_cast<unsigned char>(c);
    out += (u < 32 || u >= 127 || c == '"' || c == ' ') ? '?' : c;
  }
  return out.empty() ? "-" : out;
}

// The whole reply; the body only when withBody (not for HEAD).
std::string ReplyBytes(const Reply& reply, bool keepAlive, bool withBody) {
  std::string out = "HTTP/1.1 " + std::to_string(HttpStatus(reply.outcome)) + " ";
  out.append(ReasonPhrase(reply.outcome));
  out += "\r\nCache-Control: no-store\r\n";
  out += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  out += "Content-Length: " + std::to_string(reply.body.size()) + "\r\nContent-Type: ";
  out += reply.contentType;
  out += "\r\n\r\n";
  if (withBody) out += reply.body;
  return out;
}

Reply Refusal(Outcome outcome) {
  Reply r;
  r.outcome = outcome;
  r.contentType = "text/html; charset=utf-8";
  r.body = RenderErrorPage(outcome);
  return r;
}

// The value of the first name=value pair of the query with that name.
std::string_view QueryValue(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    if (pair.size() > name.size() && pair.substr(0, name.size()) == name &&
        pair[name.size()] == '=') {
      return pair.substr(name.size() + 1);
    }
    query.remove_prefix(amp == std::string_view::npos ? query.size() : amp + 1);
  }
  return {};
}

Reply Dispatch(RankingService& service, const NormalizedHead& head, std::string_view body) {
  const std::string_view target = head.target;
  const std::size_t question = target.find('?');
  const std::string_view path = target.substr(0, question);
  const std::string_view query =
      question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
  const bool get = head.method == "GET" || head.method == "HEAD";
  if (get && path == kScorePath) return service.ScoreTable();
  if (head.method == "POST" && path == kEntryPostPath) {
    return service.PostEntry(head.contentType, body, NowSeconds());
  }
  if (get && path == kEntryPagePath) return service.EntryPage(QueryValue(query, kEntryIdField));
  return Refusal(Outcome::kNotFound);
}

}  // namespace

std::int64_t NowSeconds() noexcept { return static_cast<std::int64_t>(std::time(nullptr)); }

RankingHttpServer::RankingHttpServer(RankingService& service, ServerOptions options)
    : service_(service), options_(std::move(options)) {
  if (options_.threads < 1) options_.threads = 1;
}

RankingHttpServer::~RankingHttpServer() {
  Stop();
  for (std::thread& t : workers_) {
    if (t.joinable()) t.join();
  }
  if (listenFd_ >= 0) close(listenFd_);
  for (const int fd : queue_) close(fd);
}

int RankingHttpServer::Bind(const std::string& host, int port) {
  sockaddr_storage addr{};
  socklen_t len = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
  if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<std::uint16_t>(port));
    len = sizeof *v4;
  } else if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<std::uint16_t>(port));
    len = sizeof *v6;
  } else {
    return -1;
  }
  const int fd = socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      listen(fd, options_.listenBacklog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd);
    return -1;
  }
  listenFd_ = fd;
  return ntohs(addr.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
}

void RankingHttpServer::Stop() noexcept {
  {
    // Under the lock, so that no worker misses the wake-up between its check and its wait.
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_all();
}

bool RankingHttpServer::Run() {
  if (listenFd_ < 0) return false;
  for (int i = 0; i < options_.threads; ++i) workers_.emplace_back([this] { Work(); });
  while (running()) {
    pollfd p{listenFd_, POLLIN, 0};
    if (poll(&p, 1, kWaitSliceMs) <= 0) continue;
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    bool queued = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (queue_.size() < options_.maxQueued) {
        queue_.push_back(fd);
        queued = true;
      }
    }
    if (queued) {
      ready_.notify_one();
      continue;
    }
    // Decided here, so that an overload is answered at once; one try, the reply is small.
    const std::string reply = ReplyBytes(Refusal(Outcome::kBusy), false, true);
    if (options_.log) {
      options_.log(PeerAddress(fd) + " \"- -\" 503 " + std::to_string(reply.size()));
    }
    send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    shutdown(fd, SHUT_WR);
    close(fd);
  }
  close(listenFd_);
  listenFd_ = -1;
  ready_.notify_all();
  for (std::thread& t : workers_) t.join();
  workers_.clear();
  return true;
}

void RankingHttpServer::Work() {
  for (;;) {
    int fd = -1;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ready_.wait(lock, [this] { return !running() || !queue_.empty(); });
      if (!running()) return;
      fd = queue_.front();
      queue_.pop_front();
    }
    ServeConnection(fd);
  }
}

void RankingHttpServer::ServeConnection(int fd) {
  const std::string socketPeer = PeerAddress(fd);
  auto logLine = [&](const std::string& peer, const NormalizedHead& head, Outcome outcome,
                     std::size_t bytes, Clock::time_point start) {
    if (!options_.log) return;
    char stamp[32] = "-";
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    // strftime leaves the buffer undefined when it fails, so the dash goes back in.
    if (gmtime_r(&now, &parts) == nullptr ||
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
      stamp[0] = '-';
      stamp[1] = '\0';
    }
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    options_.log(std::string(stamp) + " " + Printable(peer) + " \"" + Printable(head.method) + " " +
                 Printable(head.target) + "\"" + (head.absoluteForm ? " proxy-form" : "") + " " +
                 std::to_string(HttpStatus(outcome)) + " " + std::to_string(bytes) + " " +
                 std::to_string(micros / 1000) + "." + std::to_string(micros / 100 % 10) + "ms");
  };
  // A refusal ends the connection.
  auto refuse = [&](const NormalizedHead& head, Outcome outcome, Clock::time_point start) {
    const Reply reply = Refusal(outcome);
    WriteAll(fd, ReplyBytes(reply, false, true), options_.ioTimeoutMs);
    logLine(socketPeer, head, outcome, reply.body.size(), start);
  };

  std::string buffer;
  for (int served = 0; served < options_.maxRequestsPerConnection && running(); ++served) {
    // Wait for the first byte of a request: a new connection gets the head time, a kept
    // connection its idle time.
    const int waitMs = served == 0 ? options_.headTimeoutMs : options_.keepAliveMs;
    if (buffer.empty() && ReadSome(fd, &buffer, After(waitMs), &stopping_) <= 0) break;
    const Clock::time_point start = Clock::now();
    // The whole head within the head time, however slowly its bytes come.
    const Clock::time_point headDeadline = After(options_.headTimeoutMs);
    std::size_t headEnd = 0;
    HeadScan scan;
    NormalizedHead head;
    bool cut = false;
    while (!cut && (scan = FindHeadEnd(buffer, &headEnd)) == HeadScan::kNeedMore) {
      const ssize_t n = ReadSome(fd, &buffer, headDeadline, &stopping_);
      cut = n <= 0;
      // A head that stopped arriving in time gets its answer; a closed one does not.
      if (n < 0 && RemainingMs(headDeadline) == 0) refuse(head, Outcome::kHeadTimeout, start);
    }
    if (cut) break;
    if (scan == HeadScan::kTooLarge) {
      refuse(head, Outcome::kHeadTooLarge, start);
      break;
    }
    const Outcome checked =
        NormalizeRequestHead(std::string_view(buffer).substr(0, headEnd), kMaxEntryBody, &head);
    if (checked != Outcome::kOk) {
      refuse(head, checked, start);
      break;
    }
    const Clock::time_point requestDeadline =
        start + std::chrono::milliseconds(options_.requestTimeoutMs);
    const std::size_t requestEnd = headEnd + static_cast<std::size_t>(head.contentLength);
    while (buffer.size() < requestEnd) {
      const Clock::time_point progress = After(options_.ioTimeoutMs);
      if (ReadSome(fd, &buffer, progress < requestDeadline ? progress : requestDeadline,
                   &stopping_) <= 0) {
        cut = true;
        break;
      }
    }
    if (cut) {
      logLine(socketPeer, head, Outcome::kHeadTimeout, 0, start);
      break;
    }
    const Reply reply =
        Dispatch(service_, head, std::string_view(buffer).substr(headEnd, requestEnd - headEnd));
    const bool keepAlive =
        head.keepAlive && served + 1 < options_.maxRequestsPerConnection && running();
    const bool written =
        Clock::now() < requestDeadline &&
        WriteAll(fd, ReplyBytes(reply, keepAlive, head.method != "HEAD"), options_.ioTimeoutMs);
    logLine(options_.behindFront && !head.realIp.empty() ? head.realIp : socketPeer, head,
            reply.outcome, reply.body.size(), start);
    if (!written || !keepAlive) break;
    buffer.erase(0, requestEnd);
  }
  LingeringClose(fd);
}

}  // namespace qlan::server
