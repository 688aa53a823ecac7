// The server's test harness: the server in the test's own process, scripts/serve as a child
// in a process group of its own, and a raw loopback client.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sqlite3.h>

#include "app/text.h"
#include "records/replay.h"
#include "server/http_server.h"
#include "unit/net/net_test_support.h"

namespace qlan::test {

// Listens on a free port of 127.0.0.1 with the database at dbPath; logs into log().
class RunningServer {
 public:
  explicit RunningServer(const std::string& dbPath, server::ServerOptions options = {},
                         server::AdmissionLimits limits = {}) {
    if (!options.log) {
      options.log = [this](std::string_view line) {
        const std::lock_guard<std::mutex> lock(logMutex_);
        log_.emplace_back(line);
      };
    }
    store_.SetFaultReport(options.log);
    if (std::string error; !store_.Open(dbPath, false, &error)) return;
    service_ = std::make_unique<server::RankingService>(store_, std::move(limits));
    http_ = std::make_unique<server::RankingHttpServer>(*service_, options);
    port_ = http_->Start("127.0.0.1", 0);
  }
  ~RunningServer() { Stop(); }
  bool ok() const { return port_ > 0; }
  int port() const { return port_; }
  server::EntryStore& store() { return store_; }
  void Stop() {
    if (http_) http_->Stop(2000);
    store_.Close();
  }
  const std::vector<std::string>& log() const { return log_; }  // after Stop()

 private:
  server::EntryStore store_;
  std::unique_ptr<server::RankingService> service_;
  std::unique_ptr<server::RankingHttpServer> http_;
  int port_ = -1;
  std::mutex logMutex_;
  std::vector<std::string> log_;
};

// A command in a group of its own, so that a signal to it spares the test; output read here.
class ChildProcess {
 public:
  explicit ChildProcess(const std::string& command)
      : out_(popen(("echo $$; exec setsid " + command + " 2>&1").c_str(), "r")) {
    pid_ = WaitFor("\n") ? static_cast<int>(ReadDecimal(output_)) : -1;
  }
  ~ChildProcess() { Stop(SIGKILL); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Reads output until text appears or the output ends or pauses for 20 s.
  bool WaitFor(const std::string& text) {
    char buffer[4096];
    ssize_t n = 1;
    while (out_ != nullptr && output_.find(text) == std::string::npos && n > 0) {
      pollfd p{fileno(out_), POLLIN, 0};
      n = poll(&p, 1, 20000) > 0 ? read(fileno(out_), buffer, sizeof buffer) : 0;
      if (n > 0) output_.append(buffer, static_cast<std::size_t>(n));
    }
    return output_.find(text) != std::string::npos;
  }
  // Signals the group and waits for the exit: its status, or 128 + the signal.
  int Stop(int sig) {
    if (pid_ > 0) kill(-pid_, sig);
    pid_ = -1;
    WaitFor("\x01");  // the rest of the output
    const int status = out_ == nullptr ? -1 : pclose(out_);
    out_ = nullptr;
    return status < 0 ? -1 : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  }
  const std::string& output() const { return output_; }
  int pid() const { return pid_; }

 private:
  FILE* out_;
  pid_t pid_ = -1;
  std::string output_;
};

// What runs a command as a user other than root (file modes stop its writes): "env" when
// not root; "" when root cannot change user here.
inline std::string AsUnprivileged() {
  if (getuid() != 0) return "env";
  return access("/usr/bin/setpriv", X_OK) == 0
             ? "setpriv --reuid=65534 --regid=65534 --clear-groups"
             : "";
}

// A connection from the loopback address `from` to 127.0.0.1:port (a receive buffer of this
// size when not 0: a client that reads slowly or not at all), or -1.
inline int Connect(int port, const char* from = "127.0.0.1", int receiveBuffer = 0) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(int));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  inet_pton(AF_INET, from, &addr.sin_addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
  }
  if (fd >= 0) close(fd);
  return -1;
}

// A port of 127.0.0.1 that was free a moment ago, or -1.
inline int FreePort() {
  sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t size = sizeof addr;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&addr), size) == 0 &&
                     getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) == 0;
  close(fd);
  return bound ? ntohs(addr.sin_port) : -1;
}

// Sends the rest of a request over an open connection (closed here) and reads until the
// peer closes or timeoutMs pass: what arrived.
inline std::string Complete(int fd, std::string_view rest, int timeoutMs = 5000) {
  const timeval limit{timeoutMs / 1000, suseconds_t{timeoutMs % 1000} * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::string reply;
  char buffer[65536];
  ssize_t n = 0;
  for (std::size_t sent = 0; fd >= 0 && sent < rest.size() && n >= 0; sent += std::size_t(n)) {
    n = send(fd, rest.data() + sent, rest.size() - sent, MSG_NOSIGNAL);
  }
  while (fd >= 0 && (n = recv(fd, buffer, sizeof buffer, 0)) > 0)
    reply.append(buffer, std::size_t(n));
  if (fd >= 0) close(fd);
  return reply;
}

inline std::string Exchange(int port, std::string_view request, int timeoutMs = 5000) {
  return Complete(Connect(port), request, timeoutMs);
}

// The cases of a table written as one text, "|" between them.
inline std::vector<std::string> Cases(std::string_view joined) {
  std::vector<std::string> cases;
  for (std::size_t at = 0, bar = 0; bar != std::string_view::npos; at = bar + 1) {
    bar = joined.find('|', at);
    cases.emplace_back(joined.substr(at, bar - at));
  }
  return cases;
}

inline std::size_t Occurrences(const std::string& text, std::string_view part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

inline int StatusOf(const std::string& reply) {
  return reply.compare(0, 9, "HTTP/1.1 ") == 0
             ? static_cast<int>(ReadDecimal(std::string_view(reply).substr(9, 3)))
             : 0;
}

inline std::string BodyOf(const std::string& reply) {
  const std::size_t end = reply.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : reply.substr(end + 4);
}

inline std::string KnownFile(const std::string& relative) {
  return S(ReadAll(TestDataPath(relative)));
}
inline std::string ReplayForm(std::string_view replay) { return ToolForm(Base64Lines(replay)); }

// A replay's header word at byte at (big-endian, as the game writes them), read and set.
inline std::uint32_t WordAt(std::string_view replay, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(replay[at + i]);
  return v;
}
inline void PutWord(std::string* replay, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) (*replay)[at + i] = static_cast<char>(v >> (24 - 8 * i));
}
// The replay builder. A valid run of its own for each n (a run is its route and payload): the
// replay with the payload's first word n (declared, the bytes there), the time word time when
// not 0, and the game's checksum made anew.
inline std::string RunOf(std::string replay, std::uint32_t n, std::uint32_t time = 0) {
  PutWord(&replay, kReplayHeaderSize, n);
  PutWord(&replay, 60, std::max(WordAt(replay, 60), 4u));
  if (time != 0) PutWord(&replay, 4, time);
  const auto* payload = reinterpret_cast<const unsigned char*>(replay.data()) + kReplayHeaderSize;
  PutWord(&replay, 56,
          ReplayChecksum(WordAt(replay, 12), WordAt(replay, 52), payload, WordAt(replay, 60)));
  return replay;
}
// A run of the route with a payload of size bytes, for RunOf (no known file at hand).
inline std::string BlankRun(std::uint32_t route, std::uint32_t size) {
  std::string replay = "QLNR" + std::string(kReplayHeaderSize - 4, '\0') + Pattern(size);
  PutWord(&replay, 12, route);
  PutWord(&replay, 60, size);
  return replay;
}

// The request builder: the request line, each header, an empty line, the body; LF line ends
// as the tool writes them, or CR LF as other clients do.
inline std::string Request(std::string_view line, std::initializer_list<std::string_view> headers,
                           std::string_view body = {}, std::string_view eol = "\n") {
  std::string text(line);
  for (const std::string_view header : headers) text.append(eol).append(header);
  return text.append(eol).append(eol).append(body);
}
inline std::string WithLineEnds(std::string text, std::string_view eol) {
  for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += eol.size())
    text.replace(at, 1, eol);
  return text;
}
// The tool's entry request around a replay, byte for byte (two LFs after the form), or the
// same with every line end CR LF.
inline std::string EntryPost(
    std::string_view replay,
    std::string_view target = "http://ranking.quillane.example/sw/qlan/hsentry/0/",
    std::string_view eol = "\n") {
  const std::string form = WithLineEnds(ReplayForm(replay), eol);
  return Request("POST " + std::string(target) + " HTTP/1.1",
                 {"Host: ranking.quillane.example", "User-Agent: QuillaneTool/050702",
                  "Connection: close", "Content-Type: multipart/form-data; boundary=------AaXx00",
                  "Content-Length: " + std::to_string(form.size())},
                 form + std::string(eol) + std::string(eol), eol);
}
inline constexpr char kDownload[] = "GET /sw/qlan/score.dat HTTP/1.0\n\n";
// The tool's entry of a valid run of R 712 of its own for each time, taking that many ticks.
inline std::string EntryRequest(std::uint32_t time) {
  return EntryPost(RunOf(KnownFile("replays/good/r712.replay"), time, time));
}

// Runs sql on the database at path (made when missing): the first column of its rows, or
// "error: " and SQLite's message.
inline std::string Sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string rows;
  const auto row = [](void* out, int, char** values, char**) {
    *static_cast<std::string*>(out) += values[0] ? values[0] : "";
    return 0;
  };
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
      sqlite3_exec(db, sql.c_str(), row, &rows, nullptr) != SQLITE_OK)
    rows = "error: " + std::string(sqlite3_errmsg(db));
  sqlite3_close(db);
  return rows;
}

// The write lock held by another connection, as a backup or sqlite3 by hand holds it.
class HeldWriteLock {
 public:
  explicit HeldWriteLock(const std::string& path)
      : held_(sqlite3_open(path.c_str(), &db_) == SQLITE_OK &&
              sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {}
  ~HeldWriteLock() { sqlite3_close(db_); }  // rolls back
  bool held() const { return held_; }

 private:
  sqlite3* db_ = nullptr;
  bool held_;
};

// count requests at once, request(i) from 127.0.0.(2 + i % 8): each reply and its time in ms.
template <typename MakeRequest>
inline std::vector<std::pair<std::string, long>> AtOnce(int port, std::uint32_t count,
                                                        MakeRequest request) {
  std::vector<std::pair<std::string, long>> replies(count);
  std::vector<std::thread> clients;
  for (std::uint32_t i = 0; i < count; ++i) {
    clients.emplace_back([&, i] {
      const std::string& text = request(i);
      const auto start = Clock::now();
      const int fd = Connect(port, ("127.0.0." + std::to_string(2 + i % 8)).c_str());
      replies[i] = {Complete(fd, text, 12000), static_cast<long>(MsSince(start))};
    });
  }
  for (std::thread& t : clients) t.join();
  return replies;
}

// The identifier on the "**ID:" line of a reply or page; "" when there is none.
inline std::string EntryIdIn(const std::string& text) {
  const std::size_t at = text.find("\n**ID:");
  const std::size_t end = at == std::string::npos ? at : text.find('\n', at + 6);
  return end == std::string::npos ? "" : text.substr(at + 6, end - at - 6);
}

inline std::size_t StoredCount(server::EntryStore& store) {
  std::vector<server::RouteStanding> routes;
  std::size_t n = store.Standings(&routes) == server::StoreResult::kOk ? 0 : SIZE_MAX;
  for (const server::RouteStanding& r : routes) n += r.count;
  return n;
}

}  // namespace qlan::test
