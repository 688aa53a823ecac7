// The request log: a request's line, and a writer that takes lines through a bounded queue
// to one thread, so that a sink that stalls (an unread pipe, a stuck journal) never holds up
// a request. While it stalls, lines beyond the queue are dropped and counted; the count is
// logged once it moves again.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace qlan::server {

// How a request ended: its reply sent whole, or given up for the reason named in the log.
enum class RequestEnd { kReplied, kTimedOut, kStopped, kClientClosed, kFailed, kClosed };

// One request as the log tells it. The texts are as received (made printable in the line).
struct AccessRecord {
  std::time_t time = 0;  // when it ended
  std::string_view peer{};
  std::string_view method{};  // empty when its head never completed
  std::string_view path{};    // the target's path and query, as TargetPath gives it
  bool proxyForm = false;     // the target came in absolute form, as a proxy receives it
  int status = 0;             // 0: no status was sent
  std::size_t bytes = 0;      // the reply's; logged when it was sent whole
  std::chrono::microseconds duration{0};
  RequestEnd end = RequestEnd::kReplied;
};

// The log line of a request, without line end: time, peer, "method path", the proxy form,
// status, bytes, milliseconds to a tenth (cut, not rounded), and the end when not kReplied.
std::string FormatAccessLine(const AccessRecord& record);

class RequestLog {
 public:
  // Writes to fd (not owned) with one line end after each line.
  explicit RequestLog(int fd, std::size_t capacity = 4096);
  // Writes what is queued, giving up after a second of a stalled sink.
  ~RequestLog();
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;

  // Never blocks on the sink.
  void Write(std::string_view line);

 private:
  void Drain();
  // False when the sink failed, or stalled for a second after the stop.
  bool WriteOut(std::string_view text) const noexcept;

  const int fd_;
  const std::size_t capacity_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::string> lines_;
  std::uint64_t dropped_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread writer_;
};

}  // namespace qlan::server
