// In-process ranking server, child processes and raw loopback client for the server's tests.
#include "unit/server/support/server_harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>

#include "app/byte_source.h"
#include "net/base64.h"
#include "support/temp_env.h"

namespace qlan::test {

using Clock = std::chrono::steady_clock;

namespace {

int LeftMs(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

}  // namespace

RunningServer::RunningServer(const std::string& dbPath, server::ServerOptions options) {
  std::string error;
  if (!store_.Open(dbPath, false, &error)) return;
  service_ = std::make_unique<server::RankingService>(store_);
  options.log = [this](std::string_view line) {
    std::lock_guard<std::mutex> lock(logMutex_);
    log_.emplace_back(line);
  };
  http_ = std::make_unique<server::RankingHttpServer>(*service_, options);
  port_ = http_->Bind("127.0.0.1", 0);
  if (port_ > 0) thread_ = std::thread([this] { http_->Run(); });
}

void RunningServer::Stop() {
  if (thread_.joinable()) {
    http_->Stop();
    thread_.join();
  }
  store_.Close();
}

std::vector<std::string> RunningServer::LogLines() {
  std::lock_guard<std::mutex> lock(logMutex_);
  return log_;
}

ChildProcess::ChildProcess(std::vector<std::string> args) {
  int out[2];
  if (pipe(out) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, out[1], 2);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawn(&pid_, argv[0], &actions, &attr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  out_ = out[0];
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) Stop(SIGKILL);
  if (out_ >= 0) close(out_);
}

bool ChildProcess::WaitForOutput(const std::string& text) {
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(20);
  while (output_.find(text) == std::string::npos) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, LeftMs(deadline)) <= 0) return false;
    char buffer[4096];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    output_.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

int ChildProcess::NumberAfter(const std::string& text) {
  if (!WaitForOutput(text) || !WaitForOutput("\n")) return -1;
  const std::size_t at = output_.find(text) + text.size();
  const std::size_t end = output_.find_first_not_of("0123456789", at);
  return end == at ? -1 : std::stoi(output_.substr(at, end - at));
}

int ChildProcess::Stop(int sig) {
  // The group is the child's own (never this process's: kill(0, ...) would reach the test).
  if (pid_ > 0) kill(-pid_, sig);
  return Wait();
}

int ChildProcess::Wait() {
  if (pid_ <= 0) return -1;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (LeftMs(deadline) == 0) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      pid_ = -1;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
  WaitForOutput("\x01");  // collects what is left; ends at end of stream
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Connect(int port, const char* from) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  inet_pton(AF_INET, from, &addr.sin_addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
  }
  close(fd);
  return -1;
}

std::string Exchange(int port, std::string_view request, int timeoutMs) {
  const int fd = Connect(port);
  if (fd < 0) return "";
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string reply;
  std::size_t sent = 0;
  for (;;) {
    pollfd p{fd, static_cast<short>(POLLIN | (sent < request.size() ? POLLOUT : 0)), 0};
    if (poll(&p, 1, LeftMs(deadline)) <= 0) break;
    if (p.revents & POLLIN) {
      char buffer[65536];
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      reply.append(buffer, static_cast<std::size_t>(n));
    } else if (p.revents & POLLOUT) {
      const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
      if (n < 0) break;
      sent += static_cast<std::size_t>(n);
    } else {
      break;
    }
  }
  close(fd);
  return reply;
}

int StatusOf(const std::string& reply) {
  if (reply.compare(0, 9, "HTTP/1.1 ") != 0 || reply.size() < 12) return 0;
  return std::stoi(reply.substr(9, 3));
}

std::string BodyOf(const std::string& reply) {
  const std::size_t end = reply.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : reply.substr(end + 4);
}

std::string Base64Lines(std::string_view bytes) {
  MemorySource source(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  const auto size = static_cast<std::int64_t>(bytes.size());
  std::string text(static_cast<std::size_t>(Base64TextLength(size)), '\0');
  return encodeBase64Into(source, size, text.data()) ? text : std::string();
}

std::string ToolFormBody(std::string_view base64Text) {
  std::string body =
      "--------AaXx00\n"
      "Content-Disposition: form-data; name=\"MAX_FILE_SIZE\"\n"
      "\n"
      "1048576\n"
      "--------AaXx00\n"
      "Content-Disposition: form-data; name=\"frep\"; filename=\"tmp.qlx\"\n"
      "Content-Type: application/octet-stream; Encoding: base64\n"
      "\n";
  body.append(base64Text);
  body += "\n--------AaXx00--";
  return body;
}

std::string ToolEntryRequest(std::string_view body, bool absolute) {
  std::string request = absolute
                            ? "POST http://ranking.quillane.example/sw/qlan/hsentry/0/ HTTP/1.1\n"
                            : "POST /sw/qlan/hsentry/0/ HTTP/1.1\n";
  request +=
      "Host: ranking.quillane.example\n"
      "User-Agent: QuillaneTool/050702\n"
      "Connection: close\n"
      "Content-Type: multipart/form-data; boundary=------AaXx00\n"
      "Content-Length: " +
      std::to_string(body.size()) + "\n\n";
  request.append(body);
  request += "\n\n";
  return request;
}

std::string ToolEntryFor(std::string_view replay, bool absolute) {
  return ToolEntryRequest(ToolFormBody(Base64Lines(replay)), absolute);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string KnownFile(const std::string& relative) { return ReadFileBytes(TestDataPath(relative)); }

std::string EntryIdIn(const std::string& body) {
  const std::size_t at = body.find("\n**ID:");
  if (at == std::string::npos) return "";
  const std::size_t end = body.find('\n', at + 6);
  return end == std::string::npos ? "" : body.substr(at + 6, end - at - 6);
}

std::size_t StoredCount(server::EntryStore& store) {
  std::vector<server::RouteStanding> routes;
  if (store.Standings(&routes) != server::StoreResult::kOk) return SIZE_MAX;
  std::size_t n = 0;
  for (const server::RouteStanding& r : routes) n += r.count;
  return n;
}

int EntryPageStatus(int port, const std::string& id) {
  return StatusOf(Exchange(
      port, "GET /sw/qlan/hsentry/1/?UNIQUE_ID=" + id + " HTTP/1.1\nConnection: close\n\n"));
}

}  // namespace qlan::test
