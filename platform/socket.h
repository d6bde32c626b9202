// The system's socket library: start-up, host and service lookup, and an
// outgoing TCP connection over IPv4 or IPv6 exposed as a CByteStream.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/byte_stream.h"

namespace platform {

// An IPv4 or IPv6 address, its bytes in network order (IPv4 in the first
// four).
struct SAddress {
  enum Family : uint8_t { kNone, kIPv4, kIPv6 };
  Family family = kNone;
  uint8_t bytes[16] = {};
  uint32_t scopeId = 0;  // IPv6 only: the interface of a link-local address

  bool operator==(const SAddress&) const = default;
};

// Which families a lookup may return.
enum class AddressFamilies { kAny, kIPv4Only, kIPv6Only };

// Why a connect failed.
enum class ConnectError { kNone, kRefused, kTimedOut, kNetworkUnreachable, kHostUnreachable, kOther };

// Starts the socket library; 0 when it is available.
int StartSocketLibrary();
void StopSocketLibrary();

// This machine's name as the system reports it.
bool GetHostName(std::string& name);
// getaddrinfo for a stream socket: every address of name in the system's
// order of preference, without duplicates, and its canonical name (name
// itself when the system gives none). False when none is found.
bool LookupHost(const std::string& name, AddressFamilies families, std::string& canonicalName,
                std::vector<SAddress>& addresses);
// getnameinfo: the name an address is registered under; false without one.
bool LookupAddressName(const SAddress& address, std::string& name);
// The port of a service in network byte order, 0 when unknown.
uint16_t LookupServicePort(const char* service);

uint16_t HostToNetwork16(uint16_t value);
uint16_t NetworkToHost16(uint16_t value);

// A TCP socket, created unconnected.
class CSocketStream : public CByteStream {
 public:
  // A socket of the family; nullptr when the system cannot make one.
  static std::unique_ptr<CSocketStream> Create(SAddress::Family family);
  // Connects to address:port (network byte order), waiting at most
  // timeoutMs; on failure error says why, and text, for kOther, in the
  // system's words.
  virtual bool Connect(const SAddress& address, uint16_t port, int timeoutMs, ConnectError& error,
                       std::string& text) = 0;
  // The local end of the connected socket.
  virtual bool LocalAddress(SAddress& address) = 0;
};

}  // namespace platform
