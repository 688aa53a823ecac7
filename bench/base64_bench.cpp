// Base64 encoding of the largest replay the server takes (3,097,332 bytes): this encoder
// against coreutils' `base64 -w 64` as whole processes, a whole upload to a loopback peer
// against the encoding alone, and the peak heap of that upload.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
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
#include <ctime>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "app/files.h"
#include "net/base64.h"
#include "net/ranking.h"
#include "net/upload.h"

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

// Wall and CPU seconds of one measured step.
struct Cost {
  double wall = 0;
  double cpu = 0;
};

double CpuSeconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
double ProcessCpuSeconds() { return CpuSeconds(CLOCK_PROCESS_CPUTIME_ID); }
double ThreadCpuSeconds() { return CpuSeconds(CLOCK_THREAD_CPUTIME_ID); }

// Medians of wall and CPU times, each taken separately.
Cost Median(std::vector<Cost> costs) {
  Cost m;
  std::sort(costs.begin(), costs.end(),
            [](const Cost& x, const Cost& y) { return x.wall < y.wall; });
  m.wall = costs[costs.size() / 2].wall;
  std::sort(costs.begin(), costs.end(), [](const Cost& x, const Cost& y) { return x.cpu < y.cpu; });
  m.cpu = costs[costs.size() / 2].cpu;
  return m;
}

// Runs a program with its output thrown away; true when it exited with 0. *cost gets its
// wall time and the CPU time (user and system) the child used.
bool RunQuietly(const std::vector<std::string>& args, Cost* cost) {
  const auto start = Clock::now();
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
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
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return false;
  cost->wall = Seconds(start);
  cost->cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The file encoded as the upload does it, straight into its form body (the text and 231
// bytes of form around it).
std::int32_t EncodeAsUpload(const char* path, qlan::QString& body) {
  qlan::ScopedFile file(qlan::FileOpen(path, qlan::kFileRead));
  qlan::FileSource source(file.get());
  return qlan::BuildEntryBody(source, body) ? body.length() : -1;
}

// The child side of the process comparison: encode the file and write the form out.
int EncodeToStdout(const char* path) {
  qlan::QString text;
  const std::int32_t n = EncodeAsUpload(path, text);
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
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener_, 4) != 0 ||
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
      static constexpr char kReply[] =
          "HTTP/1.1 200 OK\r\nContent-Length: 14\r\n\r\n**ID:bench01\r\n";
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

int Fail(const char* what) {
  std::printf("FAILED: %s\n", what);
  return 1;
}

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
    if (f == nullptr) return 1;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    // The close flushes the buffer, so it can fail too.
    if (std::fclose(f) != 0 || !written) return 1;
  }

  const std::string self = "/proc/self/exe";
  char selfPath[4096] = {};
  const ssize_t selfLength = ::readlink(self.c_str(), selfPath, sizeof selfPath - 1);
  if (selfLength <= 0) return 1;

  constexpr int kRuns = 21;
  std::printf("Base64 of a %zu-byte replay (median of %d runs)\n", kFileSize, kRuns);

  // Whole processes: start, read, encode, write to /dev/null, exit. Taken in turns so
  // that load from elsewhere falls on both alike; CPU time is what load changes least.
  std::vector<Cost> oursRuns;
  std::vector<Cost> coreRuns;
  for (int i = 0; i < kRuns; ++i) {
    Cost c;
    if (!RunQuietly({selfPath, "--encode", path}, &c)) return Fail("the encoder process failed");
    oursRuns.push_back(c);
    if (!RunQuietly({"base64", "-w", "64", path}, &c)) return Fail("base64 -w 64 failed");
    coreRuns.push_back(c);
  }
  const Cost ours = Median(oursRuns);
  const Cost core = Median(coreRuns);
  std::printf("                               wall        cpu\n");
  std::printf("  qlan encoder process     %8.2f ms %8.2f ms\n", ours.wall * 1e3, ours.cpu * 1e3);
  std::printf("  base64 -w 64 process     %8.2f ms %8.2f ms\n", core.wall * 1e3, core.cpu * 1e3);
  std::printf("  ratio                    %8.2fx   %8.2fx   (target <= 1.5x)\n",
              ours.wall / core.wall, ours.cpu / core.cpu);

  // In this process, in turns: the encoding alone, then the whole upload to a loopback
  // peer (file opened, encoded into the form body, sent, reply read; the peer's thread
  // counts in the CPU time).
  BenchPeer peer;
  if (peer.port() < 0) return Fail("no loopback peer");
  std::size_t peak = 0;
  std::size_t received = 0;
  std::vector<Cost> encodeRuns;
  std::vector<Cost> uploadRuns;
  std::vector<double> uploadThreadRuns;  // the uploading thread alone, without the peer
  for (int i = 0; i < kRuns; ++i) {
    Cost c;
    auto start = Clock::now();
    double cpu = ProcessCpuSeconds();
    {
      qlan::QString text;
      if (EncodeAsUpload(path.c_str(), text) != 4194303 + qlan::kFormFixedLength) {
        return Fail("the encoding failed");
      }
    }
    c.wall = Seconds(start);
    c.cpu = ProcessCpuSeconds() - cpu;
    encodeRuns.push_back(c);

    peer.ServeOnce();
    const std::size_t before = g_live.load();
    g_peak.store(before);
    start = Clock::now();
    cpu = ProcessCpuSeconds();
    const double threadCpu = ThreadCpuSeconds();
    const char* r =
        qlan::uploadReplayFile(path.c_str(), qlan::UserAgent, "127.0.0.1", peer.port()).id;
    uploadThreadRuns.push_back(ThreadCpuSeconds() - threadCpu);
    received = peer.Join();
    c.wall = Seconds(start);
    c.cpu = ProcessCpuSeconds() - cpu;
    uploadRuns.push_back(c);
    peak = std::max(peak, g_peak.load() - before);
    if (r != qlan::g_entryId || std::strcmp(r, "bench01") != 0) return Fail("the upload failed");
  }
  const Cost encode = Median(encodeRuns);
  const Cost upload = Median(uploadRuns);
  std::sort(uploadThreadRuns.begin(), uploadThreadRuns.end());
  const double uploadThread = uploadThreadRuns[uploadThreadRuns.size() / 2];
  std::printf("  encoding alone           %8.2f ms %8.2f ms\n", encode.wall * 1e3,
              encode.cpu * 1e3);
  std::printf("  whole upload             %8.2f ms %8.2f ms   %zu request bytes\n",
              upload.wall * 1e3, upload.cpu * 1e3, received);
  std::printf("  ratio                    %8.2fx   %8.2fx   (target <= 3x)\n",
              upload.wall / encode.wall, upload.cpu / encode.cpu);
  std::printf("  upload, tool's thread only          %8.2f ms = %.2fx the encoding\n",
              uploadThread * 1e3, uploadThread / encode.cpu);
  std::printf("  peak heap of an upload   %zu bytes = %.2fx the Base64 text (target < 3x)\n", peak,
              static_cast<double>(peak) / 4194303.0);

  ::unlink(path.c_str());
  ::rmdir(folderTemplate);
  return 0;
}
