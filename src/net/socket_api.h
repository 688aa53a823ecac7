// The platform seam under TcpConnection: the socket library, IPv4 stream sockets, name
// resolution and transfers that give up after a time-out. One file per platform.
#pragma once
#include <cstdint>

namespace qlan::socket_api {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// Start and stop of the platform's socket library (Winsock 2.0); nothing natively.
void StartLibrary() noexcept;
void StopLibrary() noexcept;

// A TCP stream socket, or kNoSocket.
SocketHandle OpenStreamSocket() noexcept;
void CloseSocket(SocketHandle socket) noexcept;

// Forward look-up of host, then, for dotted text, the reverse look-up of its address.
// True with the first IPv4 address (network order) in address.
bool ResolveIPv4(const char* host, unsigned char (&address)[4]) noexcept;

// Connects to the 16-byte IPv4 socket address; 0, or -1 on failure or after timeoutMs.
// The socket stays non-blocking afterwards: every transfer below waits on its own.
int Connect(SocketHandle socket, const unsigned char (&peer)[16], int timeoutMs) noexcept;

// One send of at most count bytes once the socket can take some: the count accepted
// (possibly fewer), or -1 on failure or after timeoutMs without progress.
int SendSome(SocketHandle socket, const void* data, int count, int timeoutMs) noexcept;

// One receive of at most count bytes once some are there: the count, 0 when the peer has
// closed, or -1 on failure or after timeoutMs without a byte.
int ReceiveSome(SocketHandle socket, void* destination, int count, int timeoutMs) noexcept;

}  // namespace qlan::socket_api
