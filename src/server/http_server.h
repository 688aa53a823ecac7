// The ranking server's HTTP side: its own accept loop and worker threads. Heads with LF
// line ends and absolute-form targets are taken as the tool sends them; heads, bodies and
// idle time are bounded, and a full queue is answered 503 at accept time.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "server/ranking_service.h"

namespace qlan::server {

struct ServerOptions {
  int threads = 16;               // worker threads serving connections
  std::size_t maxQueued = 1024;   // accepted connections waiting for a worker; more get 503
  int headTimeoutMs = 10000;      // a whole request head must arrive within this time
  int ioTimeoutMs = 10000;        // any read or write of a body or reply without progress
  int keepAliveMs = 5000;         // idle time allowed between two requests on a connection
  int requestTimeoutMs = 300000;  // a whole request, body and reply included (slow links)
  int maxRequestsPerConnection = 100;
  int listenBacklog = 1024;
  // The client's address comes from the front's X-Real-IP line (the socket's peer is the
  // front); without a front that line is the client's own and is ignored.
  bool behindFront = false;
  // Receives one line per request (without line end); none when empty.
  std::function<void(std::string_view)> log;
};

class RankingHttpServer {
 public:
  RankingHttpServer(RankingService& service, ServerOptions options);
  ~RankingHttpServer();
  RankingHttpServer(const RankingHttpServer&) = delete;
  RankingHttpServer& operator=(const RankingHttpServer&) = delete;

  // Binds and listens on host:port (port 0: a free port). The bound port, or -1.
  int Bind(const std::string& host, int port);
  // Accepts and serves until Stop; the workers have ended when it returns. False when
  // not bound.
  bool Run();
  // Safe from any thread; connections being served end within a wait slice.
  void Stop() noexcept;

 private:
  void Work();
  void ServeConnection(int fd);
  bool running() const noexcept { return !stopping_.load(); }

  RankingService& service_;
  ServerOptions options_;
  int listenFd_ = -1;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<int> queue_;
  std::vector<std::thread> workers_;
};

// Seconds since 1970 UTC, as stored with an entry.
std::int64_t NowSeconds() noexcept;

}  // namespace qlan::server
