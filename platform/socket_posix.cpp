#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace platform {

namespace {

HostNameLookup g_byName = nullptr;
HostAddressLookup g_byAddress = nullptr;
const char* g_localName = nullptr;

// Waits for events on fd for at most timeoutMs (negative: for ever), riding
// out interruptions. 1 when ready, 0 on timeout, -1 on error.
int WaitFor(int fd, short events, int timeoutMs) {
  const int64_t deadline = timeoutMs < 0 ? -1 : MonotonicMs() + timeoutMs;
  for (;;) {
    int wait = -1;
    if (deadline >= 0) {
      int64_t left = deadline - MonotonicMs();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    pollfd entry{fd, events, 0};
    int ready = ::poll(&entry, 1, wait);
    if (ready > 0) return 1;
    if (ready == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

class CPosixSocketStream : public CSocketStream {
 public:
  explicit CPosixSocketStream(int fd) : m_fd(fd) {}
  ~CPosixSocketStream() override { Close(); }

  bool Connect(uint32_t address, uint16_t port, int timeoutMs) override {
    if (m_fd < 0) return false;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = port;
    peer.sin_addr.s_addr = address;
    if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return true;
    if (errno != EINPROGRESS && errno != EINTR) return false;
    // The socket is non-blocking, so the wait for the handshake is bounded.
    if (WaitFor(m_fd, POLLOUT, timeoutMs) != 1) return false;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
    return error == 0;
  }

  bool LocalAddress(uint32_t& address) override {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (m_fd < 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
        local.sin_family != AF_INET) {
      return false;
    }
    address = local.sin_addr.s_addr;
    return true;
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

bool SystemLookupHostByName(const std::string& name, HostEntry& entry) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  HostEntry result;
  result.officialName = found->ai_canonname ? found->ai_canonname : name;
  for (const addrinfo* item = found; item; item = item->ai_next) {
    if (item->ai_family != AF_INET || item->ai_addr == nullptr) continue;
    result.addresses.push_back(reinterpret_cast<const sockaddr_in*>(item->ai_addr)->sin_addr.s_addr);
  }
  ::freeaddrinfo(found);
  if (result.addresses.empty()) return false;
  entry = std::move(result);
  return true;
}

bool SystemLookupHostByAddress(uint32_t address, HostEntry& entry) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_addr.s_addr = address;
  char name[NI_MAXHOST];
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&peer), sizeof peer, name, sizeof name,
                    nullptr, 0, NI_NAMEREQD) != 0) {
    return false;
  }
  entry.officialName = name;
  entry.addresses.assign(1, address);
  return true;
}

}  // namespace

int StartSocketLibrary() { return 0; }
void StopSocketLibrary() {}

bool GetHostName(std::string& name) {
  if (g_localName) {
    name = g_localName;
    return true;
  }
  char buffer[512];
  if (::gethostname(buffer, sizeof buffer) != 0) return false;
  buffer[sizeof buffer - 1] = '\0';
  name = buffer;
  return true;
}

bool ParseDottedAddress(const std::string& text, uint32_t& address) {
  in_addr_t value = ::inet_addr(text.c_str());
  if (value == INADDR_NONE) return false;
  address = value;
  return true;
}

std::string FormatDottedAddress(uint32_t address) {
  in_addr value{};
  value.s_addr = address;
  char text[INET_ADDRSTRLEN];
  if (::inet_ntop(AF_INET, &value, text, sizeof text) == nullptr) return std::string();
  return text;
}

bool LookupHostByName(const std::string& name, HostEntry& entry) {
  return g_byName ? g_byName(name, entry) : SystemLookupHostByName(name, entry);
}

bool LookupHostByAddress(uint32_t address, HostEntry& entry) {
  return g_byAddress ? g_byAddress(address, entry) : SystemLookupHostByAddress(address, entry);
}

uint16_t LookupServicePort(const char* service) {
  if (service == nullptr) return 0;
  const servent* entry = ::getservbyname(service, nullptr);
  return entry ? static_cast<uint16_t>(entry->s_port) : 0;
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
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return nullptr;
  return std::make_unique<CPosixSocketStream>(fd);
}

int64_t MonotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace platform
