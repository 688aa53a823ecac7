// A scripted peer behind the socket seam (socket_api.h) for the network fuzzers: every
// connection resolves and connects, sends go nowhere, and receives hand out the script's
// reply in pieces, then a close or a reset.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qlan::fuzz {

struct PeerScript {
  const unsigned char* reply = nullptr;
  std::size_t replySize = 0;
  std::size_t piece = 0;      // most bytes one receive hands out; 0: as many as asked
  bool resetAtEnd = false;    // after the reply: -1 (reset or time-out), not 0 (close)
  std::size_t sendPiece = 0;  // most bytes one send accepts; 0: all of them
  bool sendFails = false;     // sends fail once sendBudget bytes went out
  std::size_t sendBudget = 0;
};

// Takes the script's settings from the first byte of a fuzz input and the reply from the
// rest. False when the input is empty.
bool ScriptFromInput(const unsigned char* data, std::size_t size, PeerScript* script) noexcept;

// The peer of every connection made from now on.
void SetPeer(const PeerScript& script) noexcept;

// Sockets opened and not yet closed.
int OpenSockets() noexcept;

}  // namespace qlan::fuzz
