// Connection handling of the ranking server.
#include "server/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

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

// Waits until fd is ready for events or the deadline passes; false on time-out or error.
// keepRunning, when given, ends the wait early once it turns false.
bool WaitFor(int fd, short events, Clock::time_point deadline,
             const std::function<bool()>* keepRunning = nullptr) noexcept {
  for (;;) {
    int left = RemainingMs(deadline);
    if (left == 0) return false;
    if (keepRunning != nullptr) {
      if (!(*keepRunning)()) return false;
      if (left > kWaitSliceMs) left = kWaitSliceMs;
    }
    pollfd p{fd, events, 0};
    const int r = poll(&p, 1, left);
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return false;
  }
}

// Reads what is there (at most kReadChunk bytes) into out, waiting until deadline.
// Bytes read, 0 at end of stream, -1 on error or time-out.
ssize_t ReadSome(int fd, std::string* out, Clock::time_point deadline,
                 const std::function<bool()>* keepRunning = nullptr) {
  if (!WaitFor(fd, POLLIN, deadline, keepRunning)) return -1;
  char buffer[kReadChunk];
  ssize_t n;
  do {
    n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n > 0) out->append(buffer, static_cast<std::size_t>(n));
  return n;
}

bool WriteAll(int fd, const char* data, std::size_t size, int timeoutMs) noexcept {
  std::size_t done = 0;
  while (done < size) {
    if (!WaitFor(fd, POLLOUT, Clock::now() + std::chrono::milliseconds(timeoutMs))) return false;
    const ssize_t n = send(fd, data + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
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
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kLingerMs);
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

std::string PeerAddress(int fd) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return "-";
  char text[INET6_ADDRSTRLEN] = "-";
  if (addr.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&addr)->sin_addr, text, sizeof text);
  } else if (addr.ss_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&addr)->sin6_addr, text, sizeof text);
  }
  return text;
}

void SocketEnd(int fd, bool peer, std::string& ip, int& port) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  ip.clear();
  port = 0;
  const int r = peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len)
                     : getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  if (r != 0) return;
  char text[INET6_ADDRSTRLEN] = "";
  if (addr.ss_family == AF_INET) {
    const auto* a = reinterpret_cast<sockaddr_in*>(&addr);
    inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
    port = ntohs(a->sin_port);
  } else if (addr.ss_family == AF_INET6) {
    const auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
    inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
    port = ntohs(a->sin6_port);
  }
  ip = text;
}

// The stream the library reads a request from: first the rewritten head and the bytes
// already received after it, then the socket.
class ConnectionStream : public httplib::Stream {
 public:
  ConnectionStream(int fd, std::string pending, int ioTimeoutMs, Clock::time_point requestDeadline)
      : fd_(fd),
        pending_(std::move(pending)),
        ioTimeoutMs_(ioTimeoutMs),
        requestDeadline_(requestDeadline) {}

  bool is_readable() const override {
    return offset_ < pending_.size() || WaitFor(fd_, POLLIN, Deadline());
  }
  bool is_writable() const override { return WaitFor(fd_, POLLOUT, Deadline()); }
  ssize_t read(char* ptr, size_t size) override {
    if (offset_ < pending_.size()) {
      const std::size_t n = std::min(size, pending_.size() - offset_);
      std::memcpy(ptr, pending_.data() + offset_, n);
      offset_ += n;
      return static_cast<ssize_t>(n);
    }
    if (!WaitFor(fd_, POLLIN, Deadline())) return -1;
    ssize_t n;
    do {
      n = recv(fd_, ptr, size, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    return n;
  }
  ssize_t write(const char* ptr, size_t size) override {
    if (Clock::now() >= requestDeadline_ || !WriteAll(fd_, ptr, size, ioTimeoutMs_)) return -1;
    written_ += size;
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    SocketEnd(fd_, true, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    SocketEnd(fd_, false, ip, port);
  }
  socket_t socket() const override { return fd_; }

  // Bytes received but not read by the library: the start of the next request.
  std::string TakeUnread() { return pending_.substr(std::min(offset_, pending_.size())); }
  std::size_t written() const noexcept { return written_; }

 private:
  // The sooner of the progress time-out and the end of the request's time.
  Clock::time_point Deadline() const {
    const Clock::time_point progress = Clock::now() + std::chrono::milliseconds(ioTimeoutMs_);
    return progress < requestDeadline_ ? progress : requestDeadline_;
  }

  int fd_;
  std::string pending_;
  std::size_t offset_ = 0;
  int ioTimeoutMs_;
  Clock::time_point requestDeadline_;
  std::size_t written_ = 0;
};

// Worker threads with a count of connections still waiting, so that an overload is
// answered at once instead of piling up.
class CountingPool : public httplib::TaskQueue {
 public:
  CountingPool(int threads, std::atomic<std::size_t>& pending) : pending_(pending) {
    for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
  }
  ~CountingPool() override = default;

  void enqueue(std::function<void()> fn) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      jobs_.push_back(std::move(fn));
      ++pending_;
    }
    cond_.notify_one();
  }

  void shutdown() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    cond_.notify_all();
    for (auto& t : workers_) t.join();
  }

 private:
  void Work() {
    for (;;) {
      std::function<void()> fn;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        cond_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) return;
        fn = std::move(jobs_.front());
        jobs_.pop_front();
        --pending_;
      }
      fn();
    }
  }

  std::atomic<std::size_t>& pending_;
  std::vector<std::thread> workers_;
  std::deque<std::function<void()>> jobs_;
  std::mutex mutex_;
  std::condition_variable cond_;
  bool stopping_ = false;
};

// What the library answered, recorded by its logger for the request log line.
struct ExchangeRecord {
  bool answered = false;
  int status = 0;
  std::size_t bodyBytes = 0;
};
thread_local ExchangeRecord t_exchange;

const char* ReasonText(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 408:
      return "Request Timeout";
    case 411:
      return "Length Required";
    case 413:
      return "Payload Too Large";
    case 414:
      return "URI Too Long";
    case 431:
      return "Request Header Fields Too Large";
    case 501:
      return "Not Implemented";
    case 503:
      return "Service Unavailable";
    case 505:
      return "HTTP Version Not Supported";
    default:
      return "Error";
  }
}

const char* MessageFor(int status) {
  switch (status) {
    case 404:
      return "そのページはありません。(not found)";
    case 408:
      return "リクエストが時間内に届きませんでした。(request timeout)";
    case 411:
      return "Content-Length がありません。(length required)";
    case 413:
      return "送信データが大きすぎます。(request body too large)";
    case 414:
      return "URL が長すぎます。(target too long)";
    case 431:
      return "ヘッダーが大きすぎます。(header too large)";
    case 501:
      return "その転送方式には対応していません。(not implemented)";
    case 503:
      return "混み合っています。しばらくしてからお試しください。(busy)";
    case 505:
      return "その HTTP のバージョンには対応していません。(version not supported)";
    default:
      return "リクエストが不正です。(bad request)";
  }
}

// A refusal written before the library sees the request; the connection closes after it.
std::size_t WriteRefusal(int fd, int status, int timeoutMs) {
  const std::string body = RenderErrorPage(status, MessageFor(status));
  std::string reply = "HTTP/1.1 " + std::to_string(status) + " " + ReasonText(status) +
                      "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                      std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  WriteAll(fd, reply.data(), reply.size(), timeoutMs);
  return body.size();
}

std::string Printable(std::string_view text) {
  std::string out;
  for (const char c : text.substr(0, 200)) {
    const auto u = static_cast<unsigned char>(c);
    out += (u < 32 || u >= 127 || c == '"') ? '?' : c;
  }
  return out;
}

void ApplyReply(const Reply& reply, httplib::Response& res) {
  res.status = reply.status;
  res.set_content(reply.body, reply.contentType);
}

}  // namespace

std::int64_t NowSeconds() noexcept { return static_cast<std::int64_t>(std::time(nullptr)); }

RankingHttpServer::RankingHttpServer(RankingService& service, ServerOptions options)
    : service_(service), options_(std::move(options)) {
  if (options_.threads < 1) options_.threads = 1;
  new_task_queue = [this] { return new CountingPool(options_.threads, pending_); };
  set_payload_max_length(static_cast<std::size_t>(kMaxEntryBody));
  const std::time_t ioSeconds = options_.ioTimeoutMs / 1000;
  const std::time_t ioMicros = static_cast<std::time_t>(options_.ioTimeoutMs % 1000) * 1000;
  set_read_timeout(ioSeconds, ioMicros);
  set_write_timeout(ioSeconds, ioMicros);
  set_default_headers({{"Cache-Control", "no-store"}});

  Get(R"(/sw/qlan/score\.dat)", [this](const httplib::Request&, httplib::Response& res) {
    ApplyReply(service_.ScoreTable(), res);
  });
  Post(R"(/sw/qlan/hsentry/0/)", [this](const httplib::Request& req, httplib::Response& res) {
    ApplyReply(service_.PostEntry(req.get_header_value(kContentTypeHeader), req.body, NowSeconds()),
               res);
  });
  Get(R"(/sw/qlan/hsentry/1/)", [this](const httplib::Request& req, httplib::Response& res) {
    ApplyReply(service_.EntryPage(req.get_param_value("UNIQUE_ID")), res);
  });
  set_error_handler(HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return HandlerResponse::Unhandled;
    res.set_content(RenderErrorPage(res.status, MessageFor(res.status)),
                    "text/html; charset=utf-8");
    return HandlerResponse::Handled;
  }));
  set_logger([](const httplib::Request&, const httplib::Response& res) {
    t_exchange.answered = true;
    t_exchange.status = res.status;
    t_exchange.bodyBytes = res.body.size();
  });
}

RankingHttpServer::~RankingHttpServer() = default;

int RankingHttpServer::Bind(const std::string& host, int port) {
  int bound = port;
  if (port == 0) {
    bound = bind_to_any_port(host);
  } else if (!bind_to_port(host, port)) {
    bound = -1;
  }
  if (bound <= 0) return -1;
  // Listening again on a listening socket only changes its queue length.
  if (::listen(svr_sock_.load(), options_.listenBacklog) != 0) return -1;
  return bound;
}

void RankingHttpServer::Log(const std::string& line) const {
  if (options_.log) options_.log(line);
}

bool RankingHttpServer::process_and_close_socket(socket_t sock) {
  ServeConnection(sock);
  return true;
}

void RankingHttpServer::ServeConnection(int fd) {
  const std::string peer = PeerAddress(fd);
  // The library marks itself stopped only after its workers have ended; its listening
  // socket is closed at once, so that is what tells a worker to finish.
  const std::function<bool()> running = [this] { return svr_sock_.load() != INVALID_SOCKET; };
  auto logLine = [&](std::string_view method, std::string_view target, bool absolute, int status,
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
    std::string line = std::string(stamp) + " " + peer + " \"" + Printable(method) + " " +
                       Printable(target) + "\"" + (absolute ? " proxy-form" : "") + " " +
                       (status > 0 ? std::to_string(status) : std::string("-")) + " " +
                       std::to_string(bytes) + " " + std::to_string(micros / 1000) + "." +
                       std::to_string(micros / 100 % 10) + "ms";
    Log(line);
  };

  if (pending_.load() > options_.maxQueued) {
    const Clock::time_point start = Clock::now();
    const std::size_t bytes = WriteRefusal(fd, 503, options_.ioTimeoutMs);
    logLine("-", "-", false, 503, bytes, start);
    LingeringClose(fd);
    return;
  }

  std::string buffer;
  for (int served = 0; served < options_.maxRequestsPerConnection && running(); ++served) {
    // Wait for the first byte of a request: a new connection gets the head time, a kept
    // connection its idle time.
    const int waitMs = served == 0 ? options_.headTimeoutMs : options_.keepAliveMs;
    if (buffer.empty() &&
        ReadSome(fd, &buffer, Clock::now() + std::chrono::milliseconds(waitMs), &running) <= 0) {
      break;
    }
    const Clock::time_point start = Clock::now();
    const Clock::time_point headDeadline =
        start + std::chrono::milliseconds(options_.headTimeoutMs);
    std::size_t headEnd = 0;
    HeadScan scan;
    bool cut = false;
    while ((scan = FindHeadEnd(buffer, &headEnd)) == HeadScan::kNeedMore) {
      const ssize_t n = ReadSome(fd, &buffer, headDeadline, &running);
      if (n <= 0) {
        cut = true;
        // A head that stopped arriving in time gets its answer; a closed one does not.
        if (n < 0 && RemainingMs(headDeadline) == 0) {
          logLine("-", "-", false, 408, WriteRefusal(fd, 408, options_.ioTimeoutMs), start);
        }
        break;
      }
    }
    if (cut) break;
    if (scan == HeadScan::kTooLarge) {
      logLine("-", "-", false, 431, WriteRefusal(fd, 431, options_.ioTimeoutMs), start);
      break;
    }
    NormalizedHead head;
    const int refusal =
        NormalizeRequestHead(std::string_view(buffer).substr(0, headEnd), kMaxEntryBody, &head);
    if (refusal != 0) {
      logLine(head.method.empty() ? "-" : head.method, head.target.empty() ? "-" : head.target,
              head.absoluteForm, refusal, WriteRefusal(fd, refusal, options_.ioTimeoutMs), start);
      break;
    }
    ConnectionStream stream(fd, head.head + buffer.substr(headEnd), options_.ioTimeoutMs,
                            start + std::chrono::milliseconds(options_.requestTimeoutMs));
    buffer.clear();
    // The library reads bodies of POST requests only; a body sent with anything else
    // would be taken for the next request, so such a connection ends after the reply.
    const bool unreadBody = head.hasBody && head.method != "POST";
    const bool closeConnection =
        served + 1 >= options_.maxRequestsPerConnection || !running() || unreadBody;
    bool connectionClosed = false;
    t_exchange = ExchangeRecord();
    const bool ok = process_request(stream, closeConnection, connectionClosed, nullptr);
    logLine(head.method, head.target, head.absoluteForm,
            t_exchange.answered ? t_exchange.status : 0, t_exchange.bodyBytes, start);
    if (!ok || connectionClosed || closeConnection) break;
    buffer = stream.TakeUnread();
  }
  LingeringClose(fd);
}

}  // namespace qlan::server
