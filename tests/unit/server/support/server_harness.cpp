// In-process ranking server and raw loopback client for the server's tests.
#include "unit/server/support/server_harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>

#include "app/byte_source.h"
#include "net/base64.h"
#include "support/temp_env.h"

namespace qlan::test {

RunningServer::RunningServer(const std::string& dbPath, server::ServerOptions options) {
  std::string error;
  if (!store_.Open(dbPath, false, &error)) return;
  service_ = std::make_unique<server::RankingService>(store_);
  options.log = [this](std::string_view line) {
    std::lock_guard<std::mutex> lock(logMutex_);
    log_.emplace_back(line);
  };
  http_ = std::make_unique<server::RankingHttpServer>(*service_, options);
  const int bound = http_->Bind("127.0.0.1", 0);
  if (bound <= 0) return;
  thread_ = std::thread([this] { http_->listen_after_bind(); });
  // listen_after_bind marks the server running only once its loop starts.
  for (int i = 0; i < 500 && !http_->is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  port_ = bound;
}

RunningServer::~RunningServer() { Stop(); }

void RunningServer::Stop() {
  if (thread_.joinable()) {
    http_->stop();
    thread_.join();
  }
  store_.Close();
}

std::vector<std::string> RunningServer::LogLines() {
  std::lock_guard<std::mutex> lock(logMutex_);
  return log_;
}

std::string Exchange(int port, std::string_view request, int timeoutMs) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return "";
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t sent = 0;
    bool open = true;
    while (open) {
      const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count());
      if (left <= 0) break;
      pollfd p{fd, static_cast<short>(POLLIN | (sent < request.size() ? POLLOUT : 0)), 0};
      if (poll(&p, 1, left) <= 0) break;
      if (p.revents & POLLIN) {
        char buffer[65536];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        reply.append(buffer, static_cast<std::size_t>(n));
      } else if (p.revents & POLLOUT) {
        const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n < 0)
          open = false;
        else
          sent += static_cast<std::size_t>(n);
      } else {
        break;
      }
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
