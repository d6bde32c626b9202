// The system's socket library: start-up, host and service lookup, and an
// outgoing IPv4 TCP connection exposed as a CByteStream.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/byte_stream.h"

namespace platform {

struct HostEntry {
  std::string officialName;
  std::vector<uint32_t> addresses;  // IPv4, network byte order
};

// Starts the socket library; 0 when it is available.
int StartSocketLibrary();
void StopSocketLibrary();

// This machine's name as the system reports it.
bool GetHostName(std::string& name);
// inet_addr rules: false when text converts to INADDR_NONE (also for
// "255.255.255.255").
bool ParseDottedAddress(const std::string& text, uint32_t& address);
std::string FormatDottedAddress(uint32_t address);
// Canonical name and IPv4 addresses of a host name.
bool LookupHostByName(const std::string& name, HostEntry& entry);
// Reverse lookup of an address.
bool LookupHostByAddress(uint32_t address, HostEntry& entry);
// The port of a service in network byte order, 0 when unknown.
uint16_t LookupServicePort(const char* service);

// Tests replace the system's host database so that no lookup leaves the
// machine: while set, LookupHostByName and LookupHostByAddress answer from
// these functions, and GetHostName from localName unless it is nullptr.
// All nullptr restores the system's.
using HostNameLookup = bool (*)(const std::string& name, HostEntry& entry);
using HostAddressLookup = bool (*)(uint32_t address, HostEntry& entry);
void SetHostLookupForTesting(HostNameLookup byName, HostAddressLookup byAddress,
                             const char* localName);

uint16_t HostToNetwork16(uint16_t value);
uint16_t NetworkToHost16(uint16_t value);

// A TCP socket, created unconnected.
class CSocketStream : public CByteStream {
 public:
  static std::unique_ptr<CSocketStream> Create();
  // Connects to address:port (network byte order), waiting at most timeoutMs.
  virtual bool Connect(uint32_t address, uint16_t port, int timeoutMs) = 0;
  // The local end of the connected socket, IPv4 in network byte order.
  virtual bool LocalAddress(uint32_t& address) = 0;
};

// Milliseconds from an arbitrary fixed point, never going backwards.
int64_t MonotonicMs();

}  // namespace platform
