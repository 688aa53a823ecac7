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
  std::size_t piece = 0;    // most bytes one receive hands out; 0: as many as asked
  bool resetAtEnd = false;  // after the reply: -1 (reset or time-out), not 0 (close)
};

// Makes the peer of every connection from now on take its piece size and ending from the
// first byte of a fuzz input and its reply from the rest. False when the input is empty.
bool SetPeerFromInput(const unsigned char* data, std::size_t size, PeerScript* script) noexcept;

// Sockets opened and not yet closed.
int OpenSockets() noexcept;

}  // namespace qlan::fuzz
