#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <climits>
#include <cstring>

#include "base/deadline.h"
#include "platform/socket_address.h"

namespace platform {

int StartSocketLibrary() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data);  // Windows Sockets 2.2
}

void StopSocketLibrary() { WSACleanup(); }

bool GetHostName(std::string& name) {
  char buffer[512] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) return false;
  name = buffer;
  return true;
}

namespace {

ConnectError ErrorOf(int code, std::string& text) {
  switch (code) {
    case WSAECONNREFUSED: return ConnectError::kRefused;
    case WSAETIMEDOUT: return ConnectError::kTimedOut;
    case WSAENETUNREACH: return ConnectError::kNetworkUnreachable;
    case WSAEHOSTUNREACH: return ConnectError::kHostUnreachable;
    default:
      text = "Winsock error " + std::to_string(code);
      return ConnectError::kOther;
  }
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

  bool Connect(const SAddress& address, uint16_t port, int timeoutMs, ConnectError& error,
               std::string& text) override {
    error = ConnectError::kOther;
    sockaddr_storage peer;
    const int length = ToSockaddr(address, port, peer);
    if (length == 0) {
      text = "Winsock error " + std::to_string(WSAEAFNOSUPPORT);
      return false;
    }
    // Non-blocking from here on: connect gives up after timeoutMs, and a
    // send never waits inside the call, only in select, where time counts.
    u_long nonBlocking = 1;
    if (ioctlsocket(m_socket, FIONBIO, &nonBlocking) != 0) {
      error = ErrorOf(WSAGetLastError(), text);
      return false;
    }
    if (connect(m_socket, reinterpret_cast<const sockaddr*>(&peer), length) == 0) {
      error = ConnectError::kNone;
      return true;
    }
    const int started = WSAGetLastError();
    if (started != WSAEWOULDBLOCK) {
      error = ErrorOf(started, text);
      return false;
    }
    const int ready = WaitFor(m_socket, true, timeoutMs, true);
    if (ready == 0) {
      error = ConnectError::kTimedOut;
      return false;
    }
    // A failed connect shows in the exception set; SO_ERROR tells why.
    int code = 0;
    int size = sizeof code;
    if (getsockopt(m_socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &size) != 0) {
      code = WSAGetLastError();
    }
    if (code != 0 || ready < 0) {
      error = ErrorOf(code != 0 ? code : WSAECONNREFUSED, text);
      return false;
    }
    error = ConnectError::kNone;
    return true;
  }

  bool LocalAddress(SAddress& address) override {
    sockaddr_storage local;
    std::memset(&local, 0, sizeof local);
    int length = sizeof local;
    return getsockname(m_socket, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
           FromSockaddr(reinterpret_cast<const sockaddr*>(&local), address);
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
    const CDeadline deadline = CDeadline::Start(timeoutMs);
    for (;;) {
      int ready = WaitFor(m_socket, false, deadline.RemainingMs());
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

bool LookupHost(const std::string& name, AddressFamilies families, std::string& canonicalName,
                std::vector<SAddress>& addresses) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = families == AddressFamilies::kIPv4Only   ? AF_INET
                    : families == AddressFamilies::kIPv6Only ? AF_INET6
                                                             : AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  // No AI_ADDRCONFIG: a machine with loopback only must still find ::1.
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  std::vector<SAddress> result;
  for (const addrinfo* item = found; item; item = item->ai_next) {
    SAddress address;
    if (item->ai_addr == nullptr || !FromSockaddr(item->ai_addr, address)) continue;
    bool seen = false;
    for (const SAddress& known : result) seen = seen || known == address;
    if (!seen) result.push_back(address);
  }
  const std::string canonical = found->ai_canonname ? found->ai_canonname : name;
  freeaddrinfo(found);
  if (result.empty()) return false;
  canonicalName = canonical;
  addresses = std::move(result);
  return true;
}

bool LookupAddressName(const SAddress& address, std::string& name) {
  sockaddr_storage peer;
  const int length = ToSockaddr(address, 0, peer);
  char found[NI_MAXHOST];
  if (length == 0 || getnameinfo(reinterpret_cast<const sockaddr*>(&peer), length, found,
                                 sizeof found, nullptr, 0, NI_NAMEREQD) != 0) {
    return false;
  }
  name = found;
  return true;
}

uint16_t LookupServicePort(const char* service) {
  const servent* found = getservbyname(service, nullptr);
  return found ? static_cast<uint16_t>(found->s_port) : 0;
}

uint16_t HostToNetwork16(uint16_t value) { return htons(value); }
uint16_t NetworkToHost16(uint16_t value) { return ntohs(value); }

std::unique_ptr<CSocketStream> CSocketStream::Create(SAddress::Family family) {
  if (family != SAddress::kIPv4 && family != SAddress::kIPv6) return nullptr;
  SOCKET s = socket(family == SAddress::kIPv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return nullptr;
  return std::make_unique<CWinsockStream>(s);
}


}  // namespace platform
