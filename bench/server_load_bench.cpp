// Load on the ranking server: N concurrent loopback clients, each making one request per
// connection as the tool does, for a fixed time per kind. Prints requests per second for
// downloads of the table and for entry uploads (the tool's exact LF-only request), each as
// a ratio to the anchor, a request for a path that does not exist (the connection and
// HTTP cost alone), and counts every failed request. With --serve, the stack of
// scripts/serve is started instead (nginx in front, table cached there) and downloads are
// measured through the front as well; entries still go to the server, since the front
// lets one address make only 10 a minute. Entries are also compared with raw SQLite
// inserting the same rows, one transaction each, with the same synchronous setting on the
// same disk: what the server adds to the database's own cost.
//
// usage: server_load_bench [--server PATH] [--clients N] [--seconds S] [--synchronous full|normal]
//                          [--serve SCRIPT]
// PATH defaults to qlan-ranking-server in the build folder above this program's folder.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "server/entry_store.h"
#include "unit/server/support/server_harness.h"

namespace {

using Clock = std::chrono::steady_clock;

// One request on a fresh connection from loopback address 127.0.0.(1 + client % 250), as
// players come from many addresses; what arrived within 10 s.
std::string Exchange(int port, int client, const std::string& request) {
  const std::string from = "127.0.0." + std::to_string(1 + client % 250);
  return qlan::test::Complete(qlan::test::Connect(port, from.c_str()), request, 10000);
}

// A valid replay of the route with a payload of n bytes, one of its own for each time.
std::string MakeReplay(std::uint32_t route, std::uint32_t time, std::uint32_t n) {
  return qlan::test::RunOf(qlan::test::BlankRun(route, n), time, time);
}

// Rows as the server stores an entry, inserted one transaction each for the given time.
struct RawInserts {
  long rows = 0;
  double seconds = 0;
  bool failed = false;
  double PerSecond() const { return seconds > 0 ? static_cast<double>(rows) / seconds : 0; }
};

RawInserts InsertRaw(const std::string& path, const std::string& sync, double seconds) {
  RawInserts result;
  sqlite3* db = nullptr;
  sqlite3_stmt* insert = nullptr;
  // The server's own schema and indexes, made by the store as the server makes them.
  qlan::server::EntryStore store;
  std::string error;
  const bool made = store.Open(path, sync == "full", &error);
  store.Close();
  const std::string setup = "PRAGMA synchronous=" + sync + ";";
  result.failed =
      !made || sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
      sqlite3_exec(db, setup.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db,
                         "INSERT INTO entries (id, route, time_ticks, distance, created, replay,"
                         " digest) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
                         -1, &insert, nullptr) != SQLITE_OK;
  const Clock::time_point start = Clock::now();
  const Clock::time_point end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  while (!result.failed && Clock::now() < end) {
    const auto k = static_cast<std::uint32_t>(result.rows);
    const std::string replay = MakeReplay(710 + k % 40, 3600 + k, 2048);
    const std::string id = "raw-" + std::to_string(k);
    unsigned char digest[32] = {};
    std::memcpy(digest, &k, sizeof k);
    sqlite3_bind_text(insert, 1, id.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, 2, 710 + k % 40);
    sqlite3_bind_int64(insert, 3, 3600 + k);
    sqlite3_bind_int64(insert, 4, 40000 + k);
    sqlite3_bind_int64(insert, 5, 1700000000);
    sqlite3_bind_blob(insert, 6, replay.data(), static_cast<int>(replay.size()), SQLITE_STATIC);
    sqlite3_bind_blob(insert, 7, digest, sizeof digest, SQLITE_STATIC);
    result.failed = sqlite3_step(insert) != SQLITE_DONE;
    sqlite3_reset(insert);
    ++result.rows;
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  sqlite3_finalize(insert);
  sqlite3_close(db);
  return result;
}

struct Phase {
  long ok = 0;
  long failed = 0;
  double seconds = 0;
  double PerSecond() const { return seconds > 0 ? static_cast<double>(ok) / seconds : 0; }
};

// Every client repeats its request until the time is up; check says whether a reply is right.
template <typename MakeRequest, typename Check>
Phase Run(int port, int clients, double seconds, MakeRequest make, Check check) {
  std::atomic<long> ok{0};
  std::atomic<long> failed{0};
  const Clock::time_point start = Clock::now();
  const Clock::time_point end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::vector<std::thread> threads;
  threads.reserve(static_cast<std::size_t>(clients));
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      long i = 0;
      while (Clock::now() < end) {
        const std::string reply = Exchange(port, c, make(c, i++));
        (check(reply) ? ok : failed)++;
      }
    });
  }
  for (auto& t : threads) t.join();
  Phase p;
  p.ok = ok.load();
  p.failed = failed.load();
  p.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return p;
}

// A decimal within [low, high] at the start of text; whole: nothing may follow it.
bool ParseLong(const char* text, long low, long high, bool whole, long* out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || (whole && *end != '\0') || v < low || v > high) return false;
  *out = v;
  return true;
}

bool ParseSeconds(const char* text, double* out) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !std::isfinite(v) || v <= 0 || v > 3600)
    return false;
  *out = v;
  return true;
}

// Benchmarks report on standard output, failures included.
int Fail(const std::string& what) {
  std::printf("FAILED: %s\n", what.c_str());
  return 1;
}

bool StatusIs(const std::string& reply, int status) {
  return qlan::test::StatusOf(reply) == status;
}

}  // namespace

int main(int argc, char** argv) {
  std::string server =
      (std::filesystem::path(argv[0]).parent_path().parent_path() / "qlan-ranking-server").string();
  int clients = 16;
  double seconds = 5;
  std::string sync = "full";
  std::string serve;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    long n = 0;
    if (arg == "--server") {
      server = argv[i + 1];
    } else if (arg == "--clients") {
      if (!ParseLong(argv[i + 1], 1, 1024, true, &n)) return Fail("bad --clients");
      clients = static_cast<int>(n);
    } else if (arg == "--seconds") {
      if (!ParseSeconds(argv[i + 1], &seconds)) return Fail("bad --seconds");
    } else if (arg == "--synchronous") {
      sync = argv[i + 1];
    } else if (arg == "--serve") {
      serve = argv[i + 1];
    }
  }

  // A fresh database in a folder of its own, and the server as a child process.
  char folderTemplate[] = "/tmp/qlan-load-XXXXXX";
  if (mkdtemp(folderTemplate) == nullptr) return 1;
  const std::string folder = folderTemplate;
  const std::string db = folder + "/bench.db";
  int out[2];
  if (pipe(out) != 0) return 1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::vector<std::string> args = {server,    "--port",        "0", "--db", db,
                                   "--quiet", "--synchronous", sync};
  // scripts/serve: the front on a port that was free a moment ago, the server behind it.
  int frontPort = 0;
  if (!serve.empty()) {
    frontPort = qlan::test::FreePort();
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    setenv("QLAN_SERVER_PROGRAM", server.c_str(), 1);
    args = {serve, "--port",  std::to_string(frontPort), "--dir", folder + "/serve",
            "--",  "--quiet", "--synchronous",           sync};
  }
  // Every entry comes from one address here: no daily limit.
  args.insert(args.end(), {"--entries-per-address-per-day", "0"});
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  std::vector<char*> argvChild;
  argvChild.reserve(args.size() + 1);
  for (auto& a : args) argvChild.push_back(a.data());
  argvChild.push_back(nullptr);
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, args[0].c_str(), &actions, &attr, argvChild.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(out[1]);
  if (spawned != 0) {
    close(out[0]);
    std::filesystem::remove_all(folder);
    return Fail("cannot start " + server);
  }
  // The server's first line names its port: "... listening on 127.0.0.1:PORT (database
  // ...)"; scripts/serve's: "serve: http://127.0.0.1:FRONT/ (front), server on 127.0.0.1:PORT".
  std::string first;
  char ch;
  pollfd p{out[0], POLLIN, 0};
  while (first.find('\n') == std::string::npos && poll(&p, 1, 30000) > 0 &&
         read(out[0], &ch, 1) == 1)
    first += ch;
  const std::size_t colon = first.rfind("127.0.0.1:");
  long portNumber = 0;
  if (colon == std::string::npos ||
      !ParseLong(first.c_str() + colon + 10, 1, 65535, false, &portNumber)) {
    kill(-pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    close(out[0]);
    std::filesystem::remove_all(folder);
    return Fail("server did not start: " + first);
  }
  const int port = static_cast<int>(portNumber);

  // Every upload is another replay (routes and times change), so every one is a new entry.
  const auto upload = [](int c, long i) {
    const auto k = static_cast<std::uint32_t>(c * 1000000L + i);
    return qlan::test::EntryPost(MakeReplay(710 + k % 40, 3600 + k, 2048));
  };

  const std::string anchorRequest =
      qlan::test::Request("GET /sw/qlan/nothing HTTP/1.1",
                          {"Host: ranking.quillane.example", "Connection: close"}, {}, "\r\n");
  const std::string downloadRequest = qlan::test::Request(
      "GET http://ranking.quillane.example/sw/qlan/score.dat HTTP/1.1",
      {"Host: ranking.quillane.example", "User-Agent: QuillaneTool/050702", "Connection: close"},
      {}, "\r\n");
  const Phase anchor = Run(
      port, clients, seconds, [&](int, long) -> const std::string& { return anchorRequest; },
      [](const std::string& r) { return StatusIs(r, 404); });
  const Phase uploadsPhase = Run(port, clients, seconds, upload, [](const std::string& r) {
    return StatusIs(r, 200) && r.find("\n**ID:") != std::string::npos;
  });
  const Phase downloads = Run(
      port, clients, seconds, [&](int, long) -> const std::string& { return downloadRequest; },
      [](const std::string& r) {
        return StatusIs(r, 200) && r.size() > 10888 &&
               r.compare(r.size() - 10888 - 4, 4, "\r\n\r\n") == 0;
      });

  // Through the front, the table cached there.
  Phase front;
  if (frontPort > 0) {
    front = Run(
        frontPort, clients, seconds,
        [&](int, long) -> const std::string& { return downloadRequest; },
        [](const std::string& r) {
          return StatusIs(r, 200) && r.size() > 10888 &&
                 r.compare(r.size() - 10888 - 4, 4, "\r\n\r\n") == 0;
        });
  }

  kill(-pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  close(out[0]);
  // The same disk, the same synchronous setting, the server stopped.
  const RawInserts raw = InsertRaw(folder + "/raw.db", sync, seconds);
  std::filesystem::remove_all(folder);

  std::printf(
      "ranking server load, %d concurrent clients, %.1f s per kind, synchronous=%s, one request "
      "per connection\n",
      clients, seconds, sync.c_str());
  std::printf("  anchor (404 page)   %9.0f req/s  failed %ld\n", anchor.PerSecond(), anchor.failed);
  std::printf("  downloads           %9.0f req/s  failed %ld  ratio to anchor %.2f\n",
              downloads.PerSecond(), downloads.failed,
              anchor.PerSecond() > 0 ? downloads.PerSecond() / anchor.PerSecond() : 0);
  std::printf("  uploads (2 KB run)  %9.0f req/s  failed %ld  ratio to anchor %.2f\n",
              uploadsPhase.PerSecond(), uploadsPhase.failed,
              anchor.PerSecond() > 0 ? uploadsPhase.PerSecond() / anchor.PerSecond() : 0);
  std::printf("  raw SQLite inserts  %9.0f rows/s %s  entries' ratio to them %.2f\n",
              raw.PerSecond(), raw.failed ? "FAILED" : "",
              raw.PerSecond() > 0 ? uploadsPhase.PerSecond() / raw.PerSecond() : 0);
  if (frontPort > 0) {
    std::printf(
        "  downloads, front    %9.0f req/s  failed %ld  ratio to the server's downloads %.2f\n",
        front.PerSecond(), front.failed,
        downloads.PerSecond() > 0 ? front.PerSecond() / downloads.PerSecond() : 0);
  }
  std::printf("  server exit: %s\n",
              WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "clean (0)" : "NOT CLEAN");
  const bool clean = !raw.failed && anchor.failed == 0 && downloads.failed == 0 &&
                     uploadsPhase.failed == 0 && front.failed == 0 && WIFEXITED(status) &&
                     WEXITSTATUS(status) == 0;
  return clean ? 0 : 1;
}
