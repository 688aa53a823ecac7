// What the two socket seam files share, in the calls Winsock and POSIX sockets spell alike:
// the name look-up and the socket address of a peer. Included by those two files only.
#pragma once
#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#endif

#include <cstring>

namespace qlan::socket_api {

// Forward look-up of host, then, for dotted text, the reverse look-up of its address.
inline bool LookUpIPv4(const char* host, unsigned char (&address)[4]) noexcept {
  if (host == nullptr) return false;
  const hostent* entry = ::gethostbyname(host);
  if (entry == nullptr) {
    // Only real dotted text is looked up in reverse: the all-ones value that any other
    // text converts to is no peer, and asking a name server about it helps nobody.
    const auto dotted = ::inet_addr(host);
    if (dotted == INADDR_NONE) return false;
    entry = ::gethostbyaddr(reinterpret_cast<const char*>(&dotted), 4, AF_INET);
  }
  if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 ||
      entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
    return false;
  }
  std::memcpy(address, entry->h_addr_list[0], 4);
  return true;
}

// The IPv4 socket address of the 16-byte form the connection keeps (family, port in
// network order, address, zeros).
inline sockaddr_in PeerSocketAddress(const unsigned char (&peer)[16]) noexcept {
  sockaddr_in address{};
  static_assert(sizeof address == 16, "the peer address is the 16-byte IPv4 form");
  address.sin_family = AF_INET;
  std::memcpy(&address.sin_port, peer + 2, 2);
  std::memcpy(&address.sin_addr, peer + 4, 4);
  return address;
}

}  // namespace qlan::socket_api
