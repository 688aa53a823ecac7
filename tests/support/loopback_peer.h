// A scriptable TCP peer on 127.0.0.1 for network tests: it records the bytes a client
// sends and answers with canned bytes, split, slowly, cut short, reset or not at all.
// It runs on its own thread; every wait it makes has a bound.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qlan::test {

// A host name no look-up finds without asking a name server: its first label is longer
// than DNS allows, so the resolver refuses it before sending anything.
inline constexpr char kUnresolvableHost[] =
    "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.invalid";

struct SocketLibrary;

class LoopbackPeer {
 public:
  // Listens on 127.0.0.1 at a free port.
  explicit LoopbackPeer(int backlog = 8);
  ~LoopbackPeer();
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  int port() const { return port_; }

  // Script steps, run in order for each connection; after the last the peer ends its side
  // and records whatever else comes. A request is a head up to its blank line (CR LF or bare
  // LF) and as many body bytes as its Content-Length names.
  LoopbackPeer& ReadRequest() { return Add(Step::kReadRequest); }
  LoopbackPeer& Send(std::string bytes) { return Add(Step::kSend, std::move(bytes)); }
  // Sends bytes in pieces cut at the offsets, pausing between them.
  LoopbackPeer& SendSplit(std::string bytes, std::vector<std::size_t> cuts, int pauseMs = 20) {
    return Add(Step::kSend, std::move(bytes), std::move(cuts), pauseMs);
  }
  // Reads nothing for ms, so that a client sending much stalls.
  LoopbackPeer& Pause(int ms) { return Add(Step::kPause, {}, {}, ms); }
  // Says nothing (reading what comes) until the client goes away or ms have passed.
  LoopbackPeer& Silent(int ms) { return Add(Step::kSilent, {}, {}, ms); }
  // Resets the connection (RST) instead of closing it; ends the script.
  LoopbackPeer& Reset() { return Add(Step::kReset); }

  // Serves connections, one after another, on the peer's thread.
  void Start(int connections = 1);
  // True once the script has run for every connection (waits at most ms).
  bool Wait(int ms);
  // True once every connection is over, the client's side closed too (waits at most ms).
  bool WaitClosed(int ms);
  // Bytes received on connection index so far.
  std::string Request(std::size_t index = 0) const;
  // Fills the listen queue (backlog 0, no Start): a further connect is never answered.
  void SaturateBacklog();

  // A loopback port with nothing listening on it.
  static int ClosedPort();

  using Socket = std::intptr_t;

 private:
  struct Step {
    enum Kind { kReadRequest, kSend, kPause, kSilent, kReset } kind;
    std::string bytes;
    std::vector<std::size_t> cuts;
    int ms;
  };
  LoopbackPeer& Add(Step::Kind kind, std::string bytes = {}, std::vector<std::size_t> cuts = {},
                    int ms = 0) {
    steps_.push_back(Step{kind, std::move(bytes), std::move(cuts), ms});
    return *this;
  }

  void Serve(int connections);
  void RunScript(Socket s, std::size_t index);
  // Records what connection index receives until done(record); false on close or the bound.
  template <typename Done>
  bool ReadUntil(Socket s, std::size_t index, int boundMs, Done done);
  bool Sleep(int ms);
  // ready() within ms, unless the peer stops.
  template <typename Ready>
  bool WaitFor(int ms, Ready ready) const;

  std::shared_ptr<SocketLibrary> library_;  // started while the peer lives
  int port_ = 0;                            // before listener_, which sets it
  Socket listener_;
  std::vector<Step> steps_;
  std::vector<Socket> fillers_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> scripted_{0};
  std::atomic<int> connections_{0};
  std::atomic<bool> done_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
};

}  // namespace qlan::test
