// The socket seam over a PeerScript, linked instead of socket_posix.cpp into the fuzzers.
#include "support/fake_socket.h"

#include <algorithm>
#include <cstring>

#include "net/socket_api.h"
#include "support/check.h"

namespace qlan {
namespace {

fuzz::PeerScript g_script;
std::size_t g_replyAt = 0;
int g_open = 0;
constexpr socket_api::SocketHandle kTheSocket = 7;

}  // namespace

namespace fuzz {

bool SetPeerFromInput(const unsigned char* data, std::size_t size, PeerScript* script) noexcept {
  if (size == 0) return false;
  static constexpr std::size_t kPieces[8] = {0, 1, 2, 3, 7, 64, 1000, 4095};
  *script = g_script = PeerScript{data + 1, size - 1, kPieces[data[0] & 7], (data[0] & 8) != 0};
  g_replyAt = 0;
  return true;
}

int OpenSockets() noexcept { return g_open; }

}  // namespace fuzz

namespace socket_api {

void StartLibrary() noexcept {}
void StopLibrary() noexcept {}

SocketHandle OpenStreamSocket() noexcept {
  ++g_open;
  return kTheSocket;
}

void CloseSocket(SocketHandle socket) noexcept {
  if (socket == kNoSocket) return;
  QLAN_FUZZ_CHECK(socket == kTheSocket && g_open > 0);
  --g_open;
}

bool ResolveIPv4(const char* host, unsigned char (&address)[4]) noexcept {
  QLAN_FUZZ_CHECK(host != nullptr);
  std::memcpy(address, "\x7F\0\0\x01", sizeof address);
  return true;
}

int Connect(SocketHandle socket, const unsigned char (&)[16], int) noexcept {
  QLAN_FUZZ_CHECK(socket == kTheSocket);
  return 0;
}

int SendSome(SocketHandle socket, const void* data, int count, int) noexcept {
  QLAN_FUZZ_CHECK(socket == kTheSocket && count >= 0 && (data != nullptr || count == 0));
  return count;
}

int ReceiveSome(SocketHandle socket, void* destination, int count, int) noexcept {
  // A receive of nothing could not be told from a close.
  QLAN_FUZZ_CHECK(socket == kTheSocket && destination != nullptr && count > 0);
  const std::size_t left = g_script.replySize - g_replyAt;
  if (left == 0) return g_script.resetAtEnd ? -1 : 0;
  std::size_t n = std::min(left, static_cast<std::size_t>(count));
  if (g_script.piece != 0) n = std::min(n, g_script.piece);
  std::memcpy(destination, g_script.reply + g_replyAt, n);
  g_replyAt += n;
  return static_cast<int>(n);
}

}  // namespace socket_api
}  // namespace qlan
