// The ranking server on top of cpp-httplib. The library keeps its accept loop, thread
// pool, routing, body reading and response writing; each connection is driven here so
// that heads with LF line ends and absolute-form targets are accepted (the library takes
// neither), and so that heads, bodies and idle time are bounded.
#pragma once
#include <httplib.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

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
  // Receives one line per request (without line end); none when empty.
  std::function<void(std::string_view)> log;
};

class RankingHttpServer : public httplib::Server {
 public:
  RankingHttpServer(RankingService& service, ServerOptions options);
  ~RankingHttpServer() override;

  // Binds to host:port (port 0: a free port) with a listen queue long enough for bursts
  // of clients (the library's own is 5). The bound port, or -1.
  int Bind(const std::string& host, int port);

 private:
  bool process_and_close_socket(socket_t sock) override;
  void ServeConnection(int fd);
  void Log(const std::string& line) const;

  RankingService& service_;
  ServerOptions options_;
  std::atomic<std::size_t> pending_{0};
};

// Seconds since 1970 UTC, as stored with an entry.
std::int64_t NowSeconds() noexcept;

}  // namespace qlan::server
