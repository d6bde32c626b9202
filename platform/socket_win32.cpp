#include "platform/socket.h"

#include <winsock2.h>
#include <windows.h>

#include <climits>
#include <cstring>

namespace platform {
namespace {
HostNameLookup g_byName = nullptr;
HostAddressLookup g_byAddress = nullptr;
const char* g_localName = nullptr;
}  // namespace

int StartSocketLibrary() {
  WSADATA data;
  return WSAStartup(0x0101, &data);  // Windows Sockets 1.1
}

void StopSocketLibrary() { WSACleanup(); }

bool GetHostName(std::string& name) {
  if (g_localName) {
    name = g_localName;
    return true;
  }
  char buffer[512] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) return false;
  name = buffer;
  return true;
}

bool ParseDottedAddress(const std::string& text, uint32_t& address) {
  unsigned long value = inet_addr(text.c_str());
  if (value == INADDR_NONE) return false;
  address = static_cast<uint32_t>(value);
  return true;
}

std::string FormatDottedAddress(uint32_t address) {
  in_addr in;
  in.s_addr = address;
  const char* text = inet_ntoa(in);
  return text ? std::string(text) : std::string();
}

namespace {

// The library's entry lives in per-thread storage that the next lookup
// overwrites: copy out what the connection needs at once.
bool CopyEntry(const hostent* found, HostEntry& entry) {
  if (!found || found->h_addrtype != AF_INET || found->h_length != 4 || !found->h_addr_list ||
      !found->h_addr_list[0]) {
    return false;
  }
  entry.officialName = found->h_name ? found->h_name : "";
  entry.addresses.clear();
  for (char** p = found->h_addr_list; *p; ++p) {
    uint32_t address;
    std::memcpy(&address, *p, sizeof address);
    entry.addresses.push_back(address);
  }
  return true;
}

// Waits until the socket is ready; timeoutMs < 0 waits for ever. 1 ready,
// 0 timed out, -1 error. Windows reports a failed non-blocking connect in
// the exception set, and nothing else that this program uses.
int WaitFor(SOCKET socket, bool forWrite, int timeoutMs, bool connecting = false) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(socket, &ready);
  if (connecting) FD_SET(socket, &failed);
  timeval limit;
  timeval* wait = nullptr;
  if (timeoutMs >= 0) {
    limit.tv_sec = timeoutMs / 1000;
    limit.tv_usec = (timeoutMs % 1000) * 1000;
    wait = &limit;
  }
  int n = select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, wait);
  if (n == SOCKET_ERROR) return -1;
  if (n == 0) return 0;
  if (FD_ISSET(socket, &failed)) return -1;
  return 1;
}

class CWinsockStream : public CSocketStream {
 public:
  explicit CWinsockStream(SOCKET socket) : m_socket(socket) {}
  ~CWinsockStream() override { Close(); }

  bool Connect(uint32_t address, uint16_t port, int timeoutMs) override {
    sockaddr_in peer;
    std::memset(&peer, 0, sizeof peer);
    peer.sin_family = AF_INET;
    peer.sin_port = port;
    peer.sin_addr.s_addr = address;
    // Non-blocking from here on: connect gives up after timeoutMs, and a
    // send never waits inside the call, only in select, where time counts.
    u_long nonBlocking = 1;
    if (ioctlsocket(m_socket, FIONBIO, &nonBlocking) != 0) return false;
    if (connect(m_socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return true;
    if (WSAGetLastError() != WSAEWOULDBLOCK || WaitFor(m_socket, true, timeoutMs, true) != 1) {
      return false;
    }
    int error = 0;
    int length = sizeof error;
    return getsockopt(m_socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) ==
               0 &&
           error == 0;
  }

  bool LocalAddress(uint32_t& address) override {
    sockaddr_in local;
    std::memset(&local, 0, sizeof local);
    int length = sizeof local;
    if (getsockname(m_socket, reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
        local.sin_family != AF_INET) {
      return false;
    }
    address = static_cast<uint32_t>(local.sin_addr.s_addr);
    return true;
  }

  bool SendAll(const char* data, size_t size, int timeoutMs) override {
    while (size > 0) {
      if (WaitFor(m_socket, true, timeoutMs) != 1) return false;
      int chunk = size > INT_MAX ? INT_MAX : static_cast<int>(size);
      int sent = send(m_socket, data, chunk, 0);
      if (sent == SOCKET_ERROR) {
        if (WSAGetLastError() == WSAEWOULDBLOCK) continue;
        return false;
      }
      data += sent;
      size -= static_cast<size_t>(sent);
    }
    return true;
  }

  long Receive(char* buffer, size_t size, int timeoutMs) override {
    const int64_t deadline = timeoutMs < 0 ? -1 : MonotonicMs() + timeoutMs;
    for (;;) {
      int left = -1;
      if (deadline >= 0) {
        const int64_t remaining = deadline - MonotonicMs();
        left = remaining > 0 ? static_cast<int>(remaining) : 0;
      }
      int ready = WaitFor(m_socket, false, left);
      if (ready == 0) return kReceiveTimeout;
      if (ready < 0) return kReceiveError;
      int chunk = size > INT_MAX ? INT_MAX : static_cast<int>(size);
      int received = recv(m_socket, buffer, chunk, 0);
      if (received != SOCKET_ERROR) return received;
      if (WSAGetLastError() != WSAEWOULDBLOCK) return kReceiveError;
    }
  }

  int Close() override {
    if (m_socket == INVALID_SOCKET) return 0;
    int result = closesocket(m_socket);
    m_socket = INVALID_SOCKET;
    return result;
  }

 private:
  SOCKET m_socket;
};

}  // namespace

bool LookupHostByName(const std::string& name, HostEntry& entry) {
  if (g_byName) return g_byName(name, entry);
  return CopyEntry(gethostbyname(name.c_str()), entry);
}

bool LookupHostByAddress(uint32_t address, HostEntry& entry) {
  if (g_byAddress) return g_byAddress(address, entry);
  return CopyEntry(gethostbyaddr(reinterpret_cast<const char*>(&address), 4, AF_INET), entry);
}

uint16_t LookupServicePort(const char* service) {
  const servent* found = getservbyname(service, nullptr);
  return found ? static_cast<uint16_t>(found->s_port) : 0;
}

void SetHostLookupForTesting(HostNameLookup byName, HostAddressLookup byAddress,
                             const char* localName) {
  g_byName = byName;
  g_byAddress = byAddress;
  g_localName = localName;
}

uint16_t HostToNetwork16(uint16_t value) { return htons(value); }
uint16_t NetworkToHost16(uint16_t value) { return ntohs(value); }

std::unique_ptr<CSocketStream> CSocketStream::Create() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return nullptr;
  return std::make_unique<CWinsockStream>(s);
}

int64_t MonotonicMs() { return static_cast<int64_t>(GetTickCount64()); }

}  // namespace platform
