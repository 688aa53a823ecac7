// The server's test harness: the server in the test's own process, a child process (the
// server program or scripts/serve), and a raw loopback client that sends exact bytes.
#pragma once
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "server/entry_store.h"
#include "server/http_server.h"
#include "server/ranking_service.h"

namespace qlan::test {

class RunningServer {
 public:
  // Opens (or creates) the database at dbPath and listens on a free port of 127.0.0.1.
  explicit RunningServer(const std::string& dbPath, server::ServerOptions options = {});
  ~RunningServer() { Stop(); }
  RunningServer(const RunningServer&) = delete;
  RunningServer& operator=(const RunningServer&) = delete;

  bool ok() const { return port_ > 0; }
  int port() const { return port_; }
  server::EntryStore& store() { return store_; }
  // Stops listening and waits for the workers; the destructor does it too.
  void Stop();
  std::vector<std::string> LogLines();

 private:
  server::EntryStore store_;
  std::unique_ptr<server::RankingService> service_;
  std::unique_ptr<server::RankingHttpServer> http_;
  std::thread thread_;
  int port_ = -1;
  std::mutex logMutex_;
  std::vector<std::string> log_;
};

// A child process in a process group of its own, its standard output and error read here.
// The destructor kills the group.
class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> args);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Reads output until text appears, the output ends, or 20 s pass.
  bool WaitForOutput(const std::string& text);
  // The first number after text in the output (waiting for it); -1 when none comes.
  int NumberAfter(const std::string& text);
  // Sends sig to the group and waits (at most 10 s) for the exit: its status (128 + signal
  // when killed), or -1.
  int Stop(int sig);
  int Wait();
  const std::string& output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
};

// Connects from the loopback address `from` to 127.0.0.1:port; the socket or -1.
int Connect(int port, const char* from = "127.0.0.1");
// Connects, sends request, and reads until the server closes or timeoutMs pass. Returns
// what arrived ("" when the connection failed).
std::string Exchange(int port, std::string_view request, int timeoutMs = 5000);

// Parts of a reply: its status code (0 when unreadable) and its body.
int StatusOf(const std::string& reply);
std::string BodyOf(const std::string& reply);

// The tool's own Base64 text of bytes, its form around it, and the whole LF-only request
// the tool sends (absolute form when absolute is true), with its two extra LFs.
std::string Base64Lines(std::string_view bytes);
std::string ToolFormBody(std::string_view base64Text);
std::string ToolEntryRequest(std::string_view body, bool absolute);
// ToolEntryRequest around a replay's bytes.
std::string ToolEntryFor(std::string_view replay, bool absolute = true);

std::string ReadFileBytes(const std::string& path);
// A file of the shared test data ("replays/good/r710.replay"), as bytes.
std::string KnownFile(const std::string& relative);
// The identifier on the reply's "**ID:" line; "" when there is none.
std::string EntryIdIn(const std::string& body);
// How many entries the store holds over all routes.
std::size_t StoredCount(server::EntryStore& store);
// Asks for the entry page of id in origin form; the reply's status.
int EntryPageStatus(int port, const std::string& id);

}  // namespace qlan::test
