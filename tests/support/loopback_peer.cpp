// The scriptable loopback peer: script steps over the platform half in peer_io.
#include "support/loopback_peer.h"

#include <algorithm>
#include <cctype>
#include <chrono>

namespace qlan::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSliceMs = 20;
constexpr int kStepBoundMs = 10000;  // no single read step waits longer
constexpr int kDrainBoundMs = 5000;  // reading after our side has ended

int MsLeft(Clock::time_point deadline) {
  return static_cast<int>(std::max<long long>(
      0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
}

// End of a request head: the blank line after CR LF or bare LF lines.
std::size_t HeadEnd(const std::string& data) {
  const std::size_t crlf = data.find("\r\n\r\n");
  const std::size_t lf = data.find("\n\n");
  std::size_t end = std::string::npos;
  if (crlf != std::string::npos) end = crlf + 4;
  if (lf != std::string::npos && (end == std::string::npos || lf + 2 < end)) end = lf + 2;
  return end;
}

// The Content-Length of a head, letter case ignored; 0 when it has none.
std::size_t BodyLength(const std::string& head) {
  std::string lower(head);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::size_t at = lower.find("\ncontent-length:");
  if (at == std::string::npos) return 0;
  std::size_t i = at + 16;
  while (i < lower.size() && lower[i] == ' ') ++i;
  std::size_t value = 0;
  while (i < lower.size() && lower[i] >= '0' && lower[i] <= '9') {
    value = value * 10 + static_cast<std::size_t>(lower[i] - '0');
    ++i;
  }
  return value;
}

}  // namespace

LoopbackPeer::LoopbackPeer(int backlog) {
  peer_io::StartLibrary();
  listener_ = peer_io::Listen(backlog, &port_);
}

LoopbackPeer::~LoopbackPeer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  for (Socket s : fillers_) peer_io::Close(s);
  if (listener_ != kNone) peer_io::Close(listener_);
  peer_io::StopLibrary();
}

LoopbackPeer& LoopbackPeer::ReadRequest() {
  steps_.push_back(Step{Step::kReadRequest, {}, {}, 0, 0});
  return *this;
}
LoopbackPeer& LoopbackPeer::ReadBytes(std::size_t count) {
  steps_.push_back(Step{Step::kReadBytes, {}, {}, count, 0});
  return *this;
}
LoopbackPeer& LoopbackPeer::Send(std::string bytes) {
  steps_.push_back(Step{Step::kSend, std::move(bytes), {}, 0, 0});
  return *this;
}
LoopbackPeer& LoopbackPeer::SendSplit(std::string bytes, std::vector<std::size_t> cuts,
                                      int pauseMs) {
  steps_.push_back(Step{Step::kSend, std::move(bytes), std::move(cuts), 0, pauseMs});
  return *this;
}
LoopbackPeer& LoopbackPeer::SendSlowly(std::string bytes, std::size_t piece, int pauseMs) {
  std::vector<std::size_t> cuts;
  for (std::size_t at = piece; piece > 0 && at < bytes.size(); at += piece) cuts.push_back(at);
  return SendSplit(std::move(bytes), std::move(cuts), pauseMs);
}
LoopbackPeer& LoopbackPeer::Pause(int ms) {
  steps_.push_back(Step{Step::kPause, {}, {}, 0, ms});
  return *this;
}
LoopbackPeer& LoopbackPeer::Silent(int ms) {
  steps_.push_back(Step{Step::kSilent, {}, {}, 0, ms});
  return *this;
}
LoopbackPeer& LoopbackPeer::StopReading(int ms) {
  steps_.push_back(Step{Step::kStopReading, {}, {}, 0, ms});
  return *this;
}
LoopbackPeer& LoopbackPeer::Reset() {
  steps_.push_back(Step{Step::kReset, {}, {}, 0, 0});
  return *this;
}

void LoopbackPeer::Start(int connections) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.assign(static_cast<std::size_t>(connections), std::string());
  }
  connections_ = connections;
  thread_ = std::thread([this, connections] { Serve(connections); });
}

bool LoopbackPeer::Wait(int ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (!done_ && scripted_ < connections_) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool LoopbackPeer::WaitClosed(int ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (!done_) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::string LoopbackPeer::Request(std::size_t index) const { return Recorded(index); }

void LoopbackPeer::SaturateBacklog() {
  // Each queued connection completes at once; the first that does not marks a full queue.
  for (int i = 0; i < 16; ++i) {
    const Socket s = peer_io::ConnectTo(port_, 200);
    if (s == kNone) return;
    fillers_.push_back(s);
  }
}

int LoopbackPeer::ClosedPort() {
  peer_io::StartLibrary();
  int closedPort = 0;
  const Socket s = peer_io::Listen(1, &closedPort);
  if (s != kNone) peer_io::Close(s);
  peer_io::StopLibrary();
  return closedPort;
}

bool LoopbackPeer::ResetsReadAsClose() { return peer_io::ResetsReadAsClose(); }

void LoopbackPeer::Record(std::size_t index, const char* data, std::size_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (index < requests_.size()) requests_[index].append(data, n);
}

std::string LoopbackPeer::Recorded(std::size_t index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return index < requests_.size() ? requests_[index] : std::string();
}

bool LoopbackPeer::Sleep(int ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (!stop_ && Clock::now() < deadline) {
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::min(kSliceMs, std::max(1, MsLeft(deadline)))));
  }
  return !stop_;
}

template <typename Done>
bool LoopbackPeer::ReadUntil(Socket s, std::size_t index, int boundMs, Done done) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(boundMs);
  char buffer[4096];
  const auto finished = [&] {
    std::lock_guard<std::mutex> lock(mutex_);
    return index < requests_.size() && done(requests_[index]);
  };
  while (!finished()) {
    if (stop_ || Clock::now() >= deadline) return false;
    const int ready = peer_io::WaitReadable(s, std::min(kSliceMs, std::max(1, MsLeft(deadline))));
    if (ready < 0) return false;
    if (ready == 0) continue;
    const int n = peer_io::ReceiveSome(s, buffer, sizeof buffer);
    if (n <= 0) return false;
    Record(index, buffer, static_cast<std::size_t>(n));
  }
  return true;
}

void LoopbackPeer::Serve(int connections) {
  for (int i = 0; i < connections && !stop_; ++i) {
    Socket s = kNone;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kStepBoundMs);
    while (s == kNone && !stop_ && Clock::now() < deadline)
      s = peer_io::Accept(listener_, kSliceMs * 5);
    if (s == kNone) break;
    ++accepted_;
    RunScript(s, static_cast<std::size_t>(i));
  }
  done_ = true;
}

void LoopbackPeer::RunScript(Socket s, std::size_t index) {
  std::size_t consumed = 0;  // bytes of the record that earlier read steps took
  for (const Step& step : steps_) {
    switch (step.kind) {
      case Step::kReadRequest: {
        std::size_t want = std::string::npos;
        ReadUntil(s, index, kStepBoundMs, [&](const std::string& data) {
          const std::string rest = data.substr(std::min(consumed, data.size()));
          const std::size_t head = HeadEnd(rest);
          if (head == std::string::npos) return false;
          want = head + BodyLength(rest.substr(0, head));
          return rest.size() >= want;
        });
        if (want != std::string::npos) consumed += want;
        break;
      }
      case Step::kReadBytes: {
        const std::size_t target = consumed + step.count;
        ReadUntil(s, index, kStepBoundMs,
                  [&](const std::string& data) { return data.size() >= target; });
        consumed = target;
        break;
      }
      case Step::kSend: {
        std::size_t from = 0;
        std::vector<std::size_t> cuts = step.cuts;
        cuts.push_back(step.bytes.size());
        for (std::size_t cut : cuts) {
          cut = std::min(cut, step.bytes.size());
          if (cut < from) continue;
          if (from > 0 && !Sleep(step.ms)) break;
          if (!peer_io::SendAll(s, step.bytes.data() + from, cut - from)) break;
          from = cut;
        }
        break;
      }
      case Step::kPause:
        Sleep(step.ms);
        break;
      case Step::kSilent:
        ReadUntil(s, index, step.ms, [](const std::string&) { return false; });
        break;
      case Step::kStopReading:
        Sleep(step.ms);
        break;
      case Step::kReset:
        ++scripted_;
        peer_io::ResetAndClose(s);
        return;
    }
  }
  ++scripted_;
  // Our side ends with a FIN; reading on until the client closes keeps unread request
  // bytes from turning the close into a reset.
  peer_io::ShutdownWrite(s);
  ReadUntil(s, index, kDrainBoundMs, [](const std::string&) { return false; });
  peer_io::Close(s);
}

}  // namespace qlan::test
