// The address work that POSIX sockets and Winsock do alike: the resolver's
// answer turned into the core's address list, and an address turned into
// the peer a connect takes. Each OS layer includes this after its own socket
// headers (netdb.h and netinet/in.h, or winsock2.h and ws2tcpip.h), which
// both declare these names.
#ifndef TASKCLIENT_PLATFORM_OS_SOCKET_ADDRESSES_H
#define TASKCLIENT_PLATFORM_OS_SOCKET_ADDRESSES_H

#include <string.h>

#include "platform/os/system_io.h"

namespace taskclient {
namespace io {

// Looks `host` up through getaddrinfo, IPv6 and IPv4, and keeps the first
// kMaxAddresses answers in the resolver's order. False when there is none.
inline bool LookUpAddresses(const char* host, AddressList* addresses) {
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* found = 0;
  addresses->count = 0;
  if (getaddrinfo(host, 0, &hints, &found) != 0) return false;
  for (const struct addrinfo* entry = found; entry && addresses->count < kMaxAddresses; entry = entry->ai_next) {
    Address* address = &addresses->entries[addresses->count];
    if (!entry->ai_addr) continue;
    if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(struct sockaddr_in)) {
      address->family = kIpv4;
      memcpy(address->bytes, &reinterpret_cast<const struct sockaddr_in*>(entry->ai_addr)->sin_addr, 4);
    } else if (entry->ai_family == AF_INET6 && entry->ai_addrlen >= sizeof(struct sockaddr_in6)) {
      address->family = kIpv6;
      memcpy(address->bytes, &reinterpret_cast<const struct sockaddr_in6*>(entry->ai_addr)->sin6_addr, 16);
    } else {
      continue;
    }
    ++addresses->count;
  }
  freeaddrinfo(found);
  return addresses->count > 0;
}

// The peer of a connect: `address` and `port` as the family's socket address.
struct Peer {
  struct sockaddr_in6 v6;
  struct sockaddr_in v4;
  const struct sockaddr* address;
  int size;
};

inline void SetPeer(const Address& address, uint16_t port, Peer* peer) {
  if (address.family == kIpv6) {
    memset(&peer->v6, 0, sizeof peer->v6);
    peer->v6.sin6_family = AF_INET6;
    peer->v6.sin6_port = htons(port);
    memcpy(&peer->v6.sin6_addr, address.bytes, 16);
    peer->address = reinterpret_cast<const struct sockaddr*>(&peer->v6);
    peer->size = static_cast<int>(sizeof peer->v6);
  } else {
    memset(&peer->v4, 0, sizeof peer->v4);
    peer->v4.sin_family = AF_INET;
    peer->v4.sin_port = htons(port);
    memcpy(&peer->v4.sin_addr, address.bytes, 4);
    peer->address = reinterpret_cast<const struct sockaddr*>(&peer->v4);
    peer->size = static_cast<int>(sizeof peer->v4);
  }
}

}  // namespace io
}  // namespace taskclient

#endif
