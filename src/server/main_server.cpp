// qlan-ranking-server: the reference ranking server as a command-line program.
#include <malloc.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "server/admin.h"
#include "server/entry_store.h"
#include "server/http_server.h"
#include "server/ranking_service.h"
#include "server/request_log.h"

namespace {

using qlan::server::EntryStore;
using qlan::server::Outcome;
using qlan::server::RankingHttpServer;
using qlan::server::RankingService;
using qlan::server::RequestLog;
using qlan::server::ServerOptions;

// Requests in progress may finish within this; with the commit under way and the store's
// close the server is gone within 10 s, before systemd's 15.
constexpr int kStopGraceMs = 8000;
// Blocks of this size and more are the system's own pages, given back when freed: an
// entry's form or a reply, once sent, leaves nothing behind (glibc would otherwise raise
// the threshold to the largest block freed and keep such blocks in its heap).
constexpr int kOwnPagesFrom = 64 * 1024;

constexpr char kUsage[] =
    "usage: qlan-ranking-server --port N --db FILE [options]\n"
    "  --port N            TCP port to listen on (1-65535; 0 picks a free port)\n"
    "  --db FILE           SQLite database of the entries (created when missing)\n"
    "  --bind ADDR         address to listen on (default 127.0.0.1; 0.0.0.0 for all)\n"
    "  --synchronous MODE  full (default): every entry is on disk before it is\n"
    "                      acknowledged; normal: survives a killed server, not a power cut\n"
    "  --add-replay FILE   store this replay file as an entry at start (repeatable)\n"
    "  --behind-front      the client's address is the front's X-Real-IP line\n"
    "  --entries-per-address-per-day N\n"
    "                      new entries one address may store in any 24 hours (default\n"
    "                      100; 0: no limit); beyond them 429\n"
    "  --min-free-mb N     entries get 507 while the database's file system has less\n"
    "                      free than this (default 512; 0: no floor)\n"
    "  --entry-memory-mb N entries' bodies held at once, in MB (default 64); more get 503\n"
    "  --quiet             no request log\n"
    "  --help              this text\n"
    "       qlan-ranking-server admin --db FILE COMMAND  (the operator's tools; admin --help)\n"
    "Connections are limited by the file descriptors the process may open (ulimit -n).\n";

// Text straight to a stream, before the log's writer runs and for errors: whole or
// nothing more, since a closed stream must not stop the server.
void WriteText(int fd, std::string_view text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

void WriteLine(int fd, std::string_view text) {
  std::string line(text);
  line += '\n';
  WriteText(fd, line);
}

// An error message on standard error, with the usage text when asked; the exit code 2.
int Refuse(std::string_view message, bool withUsage = false) {
  std::string text = "qlan-ranking-server: ";
  text.append(message);
  text += '\n';
  if (withUsage) text += kUsage;
  WriteText(2, text);
  return 2;
}

bool ParseInt(const char* text, long low, long high, int* out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
  *out = static_cast<int>(v);
  return true;
}

struct Arguments {
  int port = -1;
  std::string db;
  std::string bind = "127.0.0.1";
  bool fullSync = true;
  bool quiet = false;
  std::vector<std::string> replays;
  ServerOptions server;
  int entriesPerAddress = 100;
  int minFreeMb = 512;
};

// 0 when the arguments are usable, 1 after --help, 2 after an error message.
int ParseArguments(int argc, char** argv, Arguments* a) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&](const char** out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    const char* v = nullptr;
    if (arg == "--help" || arg == "-h") {
      WriteText(1, kUsage);
      return 1;
    } else if (arg == "--quiet") {
      a->quiet = true;
    } else if (arg == "--behind-front") {
      a->server.behindFront = true;
    } else if (!value(&v)) {
      return Refuse(std::string("unknown option or missing value: ") + argv[i], true);
    } else if (arg == "--port") {
      if (!ParseInt(v, 0, 65535, &a->port)) return Refuse(std::string("bad port: ") + v);
    } else if (arg == "--db") {
      a->db = v;
    } else if (arg == "--bind") {
      a->bind = v;
    } else if (arg == "--synchronous") {
      if (std::string_view(v) == "full") {
        a->fullSync = true;
      } else if (std::string_view(v) == "normal") {
        a->fullSync = false;
      } else {
        return Refuse("--synchronous takes full or normal");
      }
    } else if (arg == "--entries-per-address-per-day") {
      if (!ParseInt(v, 0, 1000000, &a->entriesPerAddress)) {
        return Refuse(std::string("bad --entries-per-address-per-day: ") + v);
      }
    } else if (arg == "--min-free-mb") {
      if (!ParseInt(v, 0, 1 << 30, &a->minFreeMb)) {
        return Refuse(std::string("bad --min-free-mb: ") + v);
      }
    } else if (arg == "--entry-memory-mb") {
      int mb = 0;
      if (!ParseInt(v, 1, 4096, &mb)) return Refuse(std::string("bad --entry-memory-mb: ") + v);
      a->server.entryMemory = static_cast<std::size_t>(mb) << 20;
    } else if (arg == "--add-replay") {
      a->replays.emplace_back(v);
    } else {
      return Refuse(std::string("unknown option: ") + argv[i - 1], true);
    }
  }
  if (a->port < 0 || a->db.empty()) {
    return Refuse("--port and --db are required", true);
  }
  return 0;
}

// Raises the soft limit of open files to the hard one; the limit then in force.
std::uint64_t DescriptorLimit() {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0) return 1024;
  if (files.rlim_cur < files.rlim_max) {
    rlimit raised = files;
    raised.rlim_cur = files.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) files = raised;
  }
  return files.rlim_cur == RLIM_INFINITY ? UINT64_MAX : static_cast<std::uint64_t>(files.rlim_cur);
}

int RunAdminCommand(int argc, char** argv) {
  std::string out;
  std::string err;
  const int code = qlan::server::RunAdmin(std::vector<std::string>(argv + 2, argv + argc),
                                          qlan::server::NowSeconds(), &out, &err);
  WriteText(1, out);
  WriteText(2, err);
  return code;
}

// SIGINT and SIGTERM blocked, for every thread started from here on: main takes them with
// sigwait. A write to a peer that went away must fail with EPIPE, not end the server.
bool TakeStopSignals(sigset_t* stopSignals) {
  sigemptyset(stopSignals);
  sigaddset(stopSignals, SIGINT);
  sigaddset(stopSignals, SIGTERM);
  return pthread_sigmask(SIG_BLOCK, stopSignals, nullptr) == 0 &&
         std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}

// The whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// The --add-replay files stored, each said on standard output; false (said on standard
// error) at the first one that cannot be read or is not stored.
bool AddReplays(const std::vector<std::string>& paths, RankingService& service) {
  for (const std::string& path : paths) {
    std::string bytes;
    if (!ReadWholeFile(path, &bytes)) {
      WriteLine(2, "qlan-ranking-server: " + path + ": cannot read the file");
      return false;
    }
    qlan::server::StoredEntry entry;
    const Outcome outcome = service.AddReplay(bytes, qlan::server::NowSeconds(), &entry);
    if (outcome != Outcome::kOk) {
      WriteLine(2, "qlan-ranking-server: " + path + ": not stored (status " +
                       std::to_string(qlan::server::HttpStatus(outcome)) + ")");
      return false;
    }
    WriteLine(
        1, "stored " + path + " as " + entry.id + " (route " + std::to_string(entry.route) + ")");
  }
  return true;
}

// Serves until SIGINT or SIGTERM, then lets the requests in progress finish: the exit code.
int Serve(Arguments& args, RankingService& service, RequestLog& log, const sigset_t& stopSignals) {
  const std::uint64_t descriptors = DescriptorLimit();
  args.server.connectionLimit = qlan::server::ConnectionLimitFor(descriptors);
  if (!args.quiet) args.server.log = [&log](std::string_view line) { log.Write(line); };
  RankingHttpServer server(service, args.server);
  const int port = server.Start(args.bind, args.port);
  if (port <= 0) {
    WriteLine(
        2, "qlan-ranking-server: cannot listen on " + args.bind + ":" + std::to_string(args.port));
    return 1;
  }
  log.Write("qlan-ranking-server listening on " + args.bind + ":" + std::to_string(port) +
            " (database " + args.db + "; up to " + std::to_string(args.server.connectionLimit) +
            " connections, from a limit of " + std::to_string(descriptors) + " open files)");
  int sig = 0;
  while (sigwait(&stopSignals, &sig) != 0) {
  }
  server.StopAccepting();
  log.Write(std::string("qlan-ranking-server stopping (") + (sig == SIGINT ? "SIGINT" : "SIGTERM") +
            "): no new connections, finishing the requests in progress");
  server.Stop(kStopGraceMs);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "admin") return RunAdminCommand(argc, argv);
  mallopt(M_MMAP_THRESHOLD, kOwnPagesFrom);
  Arguments args;
  const int parsed = ParseArguments(argc, argv, &args);
  if (parsed != 0) return parsed == 1 ? 0 : 2;
  sigset_t stopSignals;
  if (!TakeStopSignals(&stopSignals)) {
    WriteLine(2, "qlan-ranking-server: cannot set up signal handling");
    return 1;
  }

  // Declared before the store, which reports its faults into it until it closes.
  RequestLog log(1);
  EntryStore store;
  store.SetFaultReport([&log](std::string_view line) { log.Write(line); });
  std::string error;
  if (!store.Open(args.db, args.fullSync, &error)) {
    WriteLine(2, "qlan-ranking-server: " + error + ": " + args.db);
    return 1;
  }
  if (!store.UpgradeNote().empty()) {
    WriteLine(1, "qlan-ranking-server: " + args.db + ": " + store.UpgradeNote());
  }
  const std::string folder = std::filesystem::path(args.db).parent_path().string();
  RankingService service(
      store, {static_cast<std::uint32_t>(args.entriesPerAddress),
              static_cast<std::uint64_t>(args.minFreeMb) << 20, folder.empty() ? "." : folder,
              [&log](std::string_view line) { log.Write(line); }});
  if (!AddReplays(args.replays, service)) return 1;
  if (Serve(args, service, log, stopSignals) != 0) return 1;
  store.Close();
  log.Write("qlan-ranking-server stopped");
  return 0;
}
