// The ranking server's HTTP side on libmicrohttpd, event-driven (an epoll loop per core): an
// idle, silent or slow connection costs a socket, never a thread. Entries, which wait on the disk,
// are finished on a small pool of workers while their connections are suspended: each worker
// reads the forms waiting and stores them in one transaction, while the other may commit.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "server/ranking_service.h"

namespace qlan::server {

struct ServerOptions {
  unsigned connectionTimeoutS = 10;      // a connection that moves no byte for this long is closed
  unsigned connectionLimit = 256;        // more are refused at once (see ConnectionLimitFor)
  unsigned perAddressLimit = 32;         // connections from one address; not behind the front
  std::size_t connectionMemory = 32768;  // per connection, the request head included
  unsigned eventThreads = 0;             // threads serving connections; 0: one per core, at most 4
  int entryWorkers = 2;
  // Entries held at once (their bodies being read, waiting and being stored) and the bytes
  // of their bodies; beyond either an entry is answered 503 at its head, before its body.
  unsigned entryLimit = 256;
  std::size_t entryMemory = std::size_t{64} << 20;
  // From its head an entry has this long to reach a commit, the wait for the lock included.
  std::chrono::milliseconds entryDeadline = kWriteWait;
  // The client's address comes from the front's X-Real-IP line (the socket's peer is the
  // front, which limits each address itself); without a front that line is ignored.
  bool behindFront = false;
  // Receives one line per request (without line end), from any thread; none when empty.
  std::function<void(std::string_view)> log;
};

// Connections the server can hold with this many file descriptors (RLIMIT_NOFILE): what
// the database, the log, the listening socket and the event loop leave.
unsigned ConnectionLimitFor(std::uint64_t descriptors) noexcept;

class RankingHttpServer {
 public:
  RankingHttpServer(RankingService& service, ServerOptions options);
  ~RankingHttpServer();  // stops at once
  RankingHttpServer(const RankingHttpServer&) = delete;
  RankingHttpServer& operator=(const RankingHttpServer&) = delete;

  // Listens on host (a numeric address) and port (0: a free one) and serves in the
  // background. The bound port, or -1.
  int Start(const std::string& host, int port);
  // Accepts no more connections; the connections that are open go on.
  void StopAccepting() noexcept;
  // Accepts no more connections, lets the requests in progress finish for up to graceMs
  // (kept-alive connections are closed after their reply), then closes every connection.
  // An entry that waits for a write lock held elsewhere is answered 503 at once.
  void Stop(int graceMs) noexcept;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// Seconds since 1970 UTC, as stored with an entry.
std::int64_t NowSeconds() noexcept;

}  // namespace qlan::server
