// The request log: lines go through a bounded queue to one writer thread, so that a sink
// that stalls (an unread pipe, a stuck journal) never holds up a request. While it stalls,
// lines beyond the queue are dropped and counted; the count is logged once it moves again.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace qlan::server {

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
