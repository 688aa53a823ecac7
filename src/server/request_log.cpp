// The request log's writer thread.
#include "server/request_log.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace qlan::server {
namespace {

constexpr int kWaitSliceMs = 100;    // a stalled sink is looked at again this often
constexpr int kFinalFlushMs = 1000;  // how long a stop waits for a stalled sink
// At most a pipe's atomic size per write: a pipe that polls writable takes it whole at once.
constexpr std::size_t kWriteChunk = PIPE_BUF;

// A client's text as one word of at most 200 bytes: controls, non-ASCII bytes, quotes and
// blanks become '?', so that no request can forge or split a line; "-" when empty.
std::string Printable(std::string_view text) {
  std::string out;
  for (const char c : text.substr(0, 200)) {
    const auto u = static_cast<unsigned char>(c);
    out += (u < 32 || u >= 127 || c == '"' || c == ' ') ? '?' : c;
  }
  return out.empty() ? "-" : out;
}

std::string UtcStamp(std::time_t time) {
  char stamp[32] = "-";
  std::tm parts{};
  // strftime leaves the buffer undefined when it fails, so the dash goes back in.
  if (gmtime_r(&time, &parts) == nullptr ||
      std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
    return "-";
  }
  return stamp;
}

const char* EndWord(RequestEnd end) {
  switch (end) {
    case RequestEnd::kReplied:
      return "";
    case RequestEnd::kTimedOut:
      return " timed-out";
    case RequestEnd::kStopped:
      return " stopped";
    case RequestEnd::kClientClosed:
      return " client-closed";
    case RequestEnd::kFailed:
      return " failed";
    case RequestEnd::kClosed:
      return " closed";
  }
  return " failed";  // not a value of RequestEnd
}

}  // namespace

std::string FormatAccessLine(const AccessRecord& r) {
  const auto micros = r.duration.count();
  const bool replied = r.end == RequestEnd::kReplied;
  return UtcStamp(r.time) + " " + Printable(r.peer) + " \"" + Printable(r.method) + " " +
         Printable(r.path) + "\"" + (r.proxyForm ? " proxy-form" : "") + " " +
         (r.status != 0 ? std::to_string(r.status) : "-") + " " +
         std::to_string(replied ? r.bytes : 0) + " " + std::to_string(micros / 1000) + "." +
         std::to_string(micros / 100 % 10) + "ms" + EndWord(r.end);
}

RequestLog::RequestLog(int fd, std::size_t capacity)
    : fd_(fd), capacity_(capacity), writer_([this] { Drain(); }) {}

RequestLog::~RequestLog() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_one();
  writer_.join();
}

void RequestLog::Write(std::string_view line) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (lines_.size() >= capacity_) {
      ++dropped_;
      return;
    }
    lines_.emplace_back(line).push_back('\n');
  }
  ready_.notify_one();
}

void RequestLog::Drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ready_.wait(lock, [this] { return stopping_ || !lines_.empty(); });
    if (lines_.empty()) return;  // stopping, all written
    std::string text;
    while (!lines_.empty() && text.size() < kWriteChunk * 4) {
      text += lines_.front();
      lines_.pop_front();
    }
    lock.unlock();
    bool written = WriteOut(text);
    lock.lock();
    if (written && dropped_ > 0) {
      const std::string note = "qlan-ranking-server: " + std::to_string(dropped_) +
                               " log lines dropped while the log did not take them\n";
      dropped_ = 0;
      lock.unlock();
      written = WriteOut(note);
      lock.lock();
    }
    if (!written && stopping_) return;  // a sink that stalls past the stop loses the rest
  }
}

bool RequestLog::WriteOut(std::string_view text) const noexcept {
  int stoppedSlices = 0;
  while (!text.empty()) {
    pollfd p{fd_, POLLOUT, 0};
    const int ready = poll(&p, 1, kWaitSliceMs);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) {
      if (stopping_ && ++stoppedSlices * kWaitSliceMs >= kFinalFlushMs) return false;
      continue;
    }
    if ((p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return false;
    const ssize_t n = write(fd_, text.data(), std::min(text.size(), kWriteChunk));
    if (n < 0 && errno != EINTR && errno != EAGAIN) return false;
    if (n > 0) text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace qlan::server
