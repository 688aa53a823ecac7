// Base64 encoding of the largest replay the server takes (3,097,332 bytes): this encoder
// against coreutils' `base64 -w 64` as whole processes, a whole upload to a loopback peer
// against the encoding alone, and the peak heap of that upload.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "app/files.h"
#include "net/base64.h"
#include "net/ranking.h"
#include "net/upload.h"

extern char** environ;

// Heap accounting for the peak of one upload: every allocation carries its size.
namespace {
std::atomic<std::size_t> g_live{0};
std::atomic<std::size_t> g_peak{0};
constexpr std::size_t kHeader = 16;

void* Allocate(std::size_t n) noexcept {
  void* raw = std::malloc(n + kHeader);
  if (raw == nullptr) return nullptr;
  *static_cast<std::size_t*>(raw) = n;
  const std::size_t live = g_live.fetch_add(n) + n;
  std::size_t peak = g_peak.load();
  while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
  }
  return static_cast<char*>(raw) + kHeader;
}

void Release(void* p) noexcept {
  if (p == nullptr) return;
  void* raw = static_cast<char*>(p) - kHeader;
  g_live.fetch_sub(*static_cast<std::size_t*>(raw));
  std::free(raw);
}
}  // namespace

void* operator new(std::size_t n) {
  void* p = Allocate(n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t n) {
  void* p = Allocate(n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kFileSize = 3097332;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Median of the runs, in seconds.
template <typename F>
double MedianSeconds(int runs, F&& f) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    if (!f()) return -1;
    times.push_back(Seconds(start));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// Runs a program with its output thrown away; true when it exited with 0.
bool RunQuietly(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The child side of the process comparison: encode the file and write the text out.
int EncodeToStdout(const char* path) {
  qlan::ScopedFile file(qlan::FileOpen(path, qlan::kFileRead));
  if (!file.valid()) return 2;
  qlan::QString text;
  const std::int32_t n = qlan::encodeFileBase64(file.get(), text);
  if (n < 1) return 3;
  const char* p = text.text();
  std::size_t left = static_cast<std::size_t>(n);
  while (left > 0) {
    const ssize_t put = ::write(1, p, left);
    if (put <= 0) return 4;
    p += put;
    left -= static_cast<std::size_t>(put);
  }
  return 0;
}

// A loopback server for the upload: takes one request whole (up to the two line feeds
// after the closing delimiter), answers with an identifier and closes. No heap use, so
// the peak measured is the upload's own.
class BenchPeer {
 public:
  BenchPeer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      port_ = -1;
      return;
    }
    port_ = ntohs(a.sin_port);
  }
  ~BenchPeer() { ::close(listener_); }
  int port() const { return port_; }

  // Serves one connection on a thread of its own; returns the bytes received.
  void ServeOnce() {
    thread_ = std::thread([this] {
      const int s = ::accept(listener_, nullptr, nullptr);
      if (s < 0) return;
      static constexpr char kEnd[] = "\n--------AaXx00--\n\n";
      char tail[sizeof kEnd - 1] = {};
      std::size_t total = 0;
      static char buffer[1 << 20];
      for (;;) {
        const ssize_t got = ::recv(s, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        const auto n = static_cast<std::size_t>(got);
        total += n;
        // Keep the last bytes seen to spot the end of the request.
        if (n >= sizeof tail) {
          std::memcpy(tail, buffer + n - sizeof tail, sizeof tail);
        } else {
          std::memmove(tail, tail + n, sizeof tail - n);
          std::memcpy(tail + sizeof tail - n, buffer, n);
        }
        if (std::memcmp(tail, kEnd, sizeof tail) == 0) break;
      }
      received_ = total;
      static constexpr char kReply[] = "HTTP/1.1 200 OK\r\nContent-Length: 14\r\n\r\n**ID:bench01\r\n";
      (void)!::send(s, kReply, sizeof kReply - 1, MSG_NOSIGNAL);
      ::close(s);
    });
  }
  std::size_t Join() {
    thread_.join();
    return received_;
  }

 private:
  int listener_ = -1;
  int port_ = -1;
  std::thread thread_;
  std::size_t received_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--encode") == 0) return EncodeToStdout(argv[2]);

  char folderTemplate[] = "/tmp/qlan-base64-bench-XXXXXX";
  if (::mkdtemp(folderTemplate) == nullptr) return 1;
  const std::string path = std::string(folderTemplate) + "/r749.replay";
  {
    std::vector<unsigned char> bytes(kFileSize);
    std::uint32_t x = 749;
    for (auto& b : bytes) {
      x = x * 1664525u + 1013904223u;
      b = static_cast<unsigned char>(x >> 24);
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) return 1;
    std::fclose(f);
  }

  const std::string self = "/proc/self/exe";
  char selfPath[4096] = {};
  const ssize_t selfLength = ::readlink(self.c_str(), selfPath, sizeof selfPath - 1);
  if (selfLength <= 0) return 1;

  constexpr int kRuns = 21;
  std::printf("Base64 of a %zu-byte replay (median of %d runs)\n", kFileSize, kRuns);

  // Whole processes: start, read, encode, write to /dev/null, exit. Taken in turns so
  // that load from elsewhere falls on both alike.
  double ours = 0;
  double coreutils = 0;
  {
    std::vector<double> a;
    std::vector<double> b;
    for (int i = 0; i < kRuns && ours >= 0; ++i) {
      auto start = Clock::now();
      if (!RunQuietly({selfPath, "--encode", path})) ours = -1;
      a.push_back(Seconds(start));
      start = Clock::now();
      if (!RunQuietly({"base64", "-w", "64", path})) coreutils = -1;
      b.push_back(Seconds(start));
    }
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    if (ours >= 0) ours = a[a.size() / 2];
    if (coreutils >= 0) coreutils = b[b.size() / 2];
  }
  if (ours < 0 || coreutils < 0) {
    std::printf("  a process failed (ours %.0f, coreutils %.0f)\n", ours, coreutils);
  } else {
    std::printf("  qlan encoder process   %8.2f ms\n", ours * 1e3);
    std::printf("  base64 -w 64 process   %8.2f ms   ratio %.2fx (target <= 1.5x)\n", coreutils * 1e3,
                ours / coreutils);
  }

  // In this process, in turns: the encoding alone, then the whole upload to a loopback
  // peer (file opened, encoded into the form body, sent, reply read).
  BenchPeer peer;
  if (peer.port() < 0) return 1;
  std::int32_t textLength = 0;
  std::size_t peak = 0;
  std::size_t received = 0;
  double encode = 0;
  double upload = 0;
  {
    std::vector<double> a;
    std::vector<double> b;
    for (int i = 0; i < kRuns && encode >= 0 && upload >= 0; ++i) {
      auto start = Clock::now();
      {
        qlan::ScopedFile file(qlan::FileOpen(path.c_str(), qlan::kFileRead));
        qlan::QString text;
        textLength = qlan::encodeFileBase64(file.get(), text);
        if (textLength != 4194303) encode = -1;
      }
      a.push_back(Seconds(start));

      peer.ServeOnce();
      const std::size_t before = g_live.load();
      g_peak.store(before);
      start = Clock::now();
      const qlan::EntryResult r =
          qlan::uploadReplayFile(path.c_str(), qlan::UserAgent, "127.0.0.1", peer.port());
      b.push_back(Seconds(start));
      peak = std::max(peak, g_peak.load() - before);
      received = peer.Join();
      if (r != qlan::g_entryId || std::strcmp(r, "bench01") != 0) upload = -1;
    }
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    if (encode >= 0) encode = a[a.size() / 2];
    if (upload >= 0) upload = b[b.size() / 2];
  }
  if (encode < 0 || upload < 0) {
    std::printf("  the encoding or the upload failed\n");
    return 1;
  }
  std::printf("  encoding alone         %8.2f ms   %.0f MiB/s of text\n", encode * 1e3,
              textLength / encode / (1024.0 * 1024.0));
  std::printf("  whole upload           %8.2f ms   ratio %.2fx of the encoding (target <= 3x)\n",
              upload * 1e3, upload / encode);
  std::printf("  request bytes          %zu\n", received);
  std::printf("  peak heap of an upload %zu bytes = %.2fx the Base64 text (target < 3x)\n", peak,
              static_cast<double>(peak) / textLength);

  ::unlink(path.c_str());
  ::rmdir(folderTemplate);
  return 0;
}
