// SAddress to and from the socket address structures, which POSIX and
// Windows Sockets lay out alike. Included by the socket files of platform/
// after their system's socket headers, which declare the structures.
#pragma once

#include <cstring>

#include "platform/socket.h"

namespace platform {

// The system's socket address for address:port (port in network order); its
// length, 0 for no family.
inline int ToSockaddr(const SAddress& address, uint16_t port, sockaddr_storage& out) {
  std::memset(&out, 0, sizeof out);
  if (address.family == SAddress::kIPv4) {
    auto* in = reinterpret_cast<sockaddr_in*>(&out);
    in->sin_family = AF_INET;
    in->sin_port = port;
    std::memcpy(&in->sin_addr, address.bytes, 4);
    return static_cast<int>(sizeof *in);
  }
  if (address.family == SAddress::kIPv6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&out);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = port;
    std::memcpy(&in6->sin6_addr, address.bytes, 16);
    in6->sin6_scope_id = address.scopeId;
    return static_cast<int>(sizeof *in6);
  }
  return 0;
}

inline bool FromSockaddr(const sockaddr* in, SAddress& address) {
  address = SAddress();
  if (in->sa_family == AF_INET) {
    address.family = SAddress::kIPv4;
    std::memcpy(address.bytes, &reinterpret_cast<const sockaddr_in*>(in)->sin_addr, 4);
    return true;
  }
  if (in->sa_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(in);
    address.family = SAddress::kIPv6;
    std::memcpy(address.bytes, &in6->sin6_addr, 16);
    address.scopeId = in6->sin6_scope_id;
    return true;
  }
  return false;
}

}  // namespace platform
