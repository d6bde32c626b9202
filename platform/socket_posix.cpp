#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/deadline.h"
#include "platform/error_text.h"
#include "platform/socket_address.h"

namespace platform {

namespace {

ConnectError ErrorOf(int code, std::string& text) {
  switch (code) {
    case ECONNREFUSED: return ConnectError::kRefused;
    case ETIMEDOUT: return ConnectError::kTimedOut;
    case ENETUNREACH: return ConnectError::kNetworkUnreachable;
    case EHOSTUNREACH: return ConnectError::kHostUnreachable;
    default:
      text = ErrorNumberText(code);
      return ConnectError::kOther;
  }
}

// Waits for events on fd for at most timeoutMs (negative: for ever), riding
// out interruptions. 1 when ready, 0 on timeout, -1 on error.
int WaitFor(int fd, short events, int timeoutMs) {
  const CDeadline deadline = CDeadline::Start(timeoutMs);
  for (;;) {
    pollfd entry{fd, events, 0};
    int ready = ::poll(&entry, 1, deadline.RemainingMs());
    if (ready > 0) return 1;
    if (ready == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

class CPosixSocketStream : public CSocketStream {
 public:
  explicit CPosixSocketStream(int fd) : m_fd(fd) {}
  ~CPosixSocketStream() override { Close(); }

  bool Connect(const SAddress& address, uint16_t port, int timeoutMs, ConnectError& error,
               std::string& text) override {
    error = ConnectError::kOther;
    sockaddr_storage peer;
    const socklen_t length = static_cast<socklen_t>(ToSockaddr(address, port, peer));
    if (m_fd < 0 || length == 0) {
      text = ErrorNumberText(EAFNOSUPPORT);
      return false;
    }
    if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&peer), length) == 0) {
      error = ConnectError::kNone;
      return true;
    }
    if (errno != EINPROGRESS && errno != EINTR) {
      error = ErrorOf(errno, text);
      return false;
    }
    // The socket is non-blocking, so the wait for the handshake is bounded.
    const int ready = WaitFor(m_fd, POLLOUT, timeoutMs);
    if (ready == 0) {
      error = ConnectError::kTimedOut;
      return false;
    }
    int code = 0;
    socklen_t size = sizeof code;
    if (ready < 0 || ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &code, &size) != 0) {
      error = ErrorOf(errno, text);
      return false;
    }
    if (code != 0) {
      error = ErrorOf(code, text);
      return false;
    }
    error = ConnectError::kNone;
    return true;
  }

  bool LocalAddress(SAddress& address) override {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    return m_fd >= 0 && ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
           FromSockaddr(reinterpret_cast<const sockaddr*>(&local), address);
  }

  bool SendAll(const char* data, size_t size, int timeoutMs) override {
    if (m_fd < 0) return false;
    size_t sent = 0;
    while (sent < size) {
      // MSG_NOSIGNAL: a peer that has gone away is an ordinary failure, not a
      // signal that ends the process.
      ssize_t n = ::send(m_fd, data + sent, size - sent, MSG_NOSIGNAL);
      if (n > 0) {
        sent += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        // Each wait is bounded on its own: the limit is on lack of progress.
        if (WaitFor(m_fd, POLLOUT, timeoutMs) != 1) return false;
        continue;
      }
      return false;
    }
    return true;
  }

  long Receive(char* buffer, size_t size, int timeoutMs) override {
    if (m_fd < 0) return kReceiveError;
    for (;;) {
      int ready = WaitFor(m_fd, POLLIN, timeoutMs);
      if (ready == 0) return kReceiveTimeout;
      if (ready < 0) return kReceiveError;
      ssize_t n = ::recv(m_fd, buffer, size, 0);
      if (n >= 0) return static_cast<long>(n);
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return kReceiveError;
    }
  }

  int Close() override {
    if (m_fd < 0) return 0;
    int result = ::close(m_fd);
    m_fd = -1;
    return result;
  }

 private:
  int m_fd;
};

}  // namespace

int StartSocketLibrary() { return 0; }
void StopSocketLibrary() {}

bool GetHostName(std::string& name) {
  char buffer[512];
  if (::gethostname(buffer, sizeof buffer) != 0) return false;
  buffer[sizeof buffer - 1] = '\0';
  name = buffer;
  return true;
}

bool LookupHost(const std::string& name, AddressFamilies families, std::string& canonicalName,
                std::vector<SAddress>& addresses) {
  addrinfo hints{};
  hints.ai_family = families == AddressFamilies::kIPv4Only   ? AF_INET
                    : families == AddressFamilies::kIPv6Only ? AF_INET6
                                                             : AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  // No AI_ADDRCONFIG: a machine with loopback only must still find ::1.
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  std::vector<SAddress> result;
  for (const addrinfo* item = found; item; item = item->ai_next) {
    SAddress address;
    if (item->ai_addr == nullptr || !FromSockaddr(item->ai_addr, address)) continue;
    bool seen = false;
    for (const SAddress& known : result) seen = seen || known == address;
    if (!seen) result.push_back(address);
  }
  const std::string canonical = found->ai_canonname ? found->ai_canonname : name;
  ::freeaddrinfo(found);
  if (result.empty()) return false;
  canonicalName = canonical;
  addresses = std::move(result);
  return true;
}

bool LookupAddressName(const SAddress& address, std::string& name) {
  sockaddr_storage peer;
  const socklen_t length = static_cast<socklen_t>(ToSockaddr(address, 0, peer));
  char found[NI_MAXHOST];
  if (length == 0 || ::getnameinfo(reinterpret_cast<const sockaddr*>(&peer), length, found,
                                   sizeof found, nullptr, 0, NI_NAMEREQD) != 0) {
    return false;
  }
  name = found;
  return true;
}

uint16_t LookupServicePort(const char* service) {
  if (service == nullptr) return 0;
  const servent* entry = ::getservbyname(service, nullptr);
  return entry ? static_cast<uint16_t>(entry->s_port) : 0;
}

uint16_t HostToNetwork16(uint16_t value) { return htons(value); }
uint16_t NetworkToHost16(uint16_t value) { return ntohs(value); }

std::unique_ptr<CSocketStream> CSocketStream::Create(SAddress::Family family) {
  if (family != SAddress::kIPv4 && family != SAddress::kIPv6) return nullptr;
  int fd = ::socket(family == SAddress::kIPv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return nullptr;
  return std::make_unique<CPosixSocketStream>(fd);
}

}  // namespace platform
