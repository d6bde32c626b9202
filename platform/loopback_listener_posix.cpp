#include "platform/loopback_listener.h"

#include <cstdlib>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

// A request line and headers longer than this are not a browser's redirect.
constexpr size_t kMaxRequest = 16384;

void CloseDescriptor(long long& fd) {
  if (fd >= 0) close(static_cast<int>(fd));
  fd = -1;
}

}  // namespace

CLoopbackListener::~CLoopbackListener() {
  CloseDescriptor(m_connection);
  CloseDescriptor(m_listener);
}

bool CLoopbackListener::Open() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  m_listener = fd;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, 4) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    CloseDescriptor(m_listener);
    return false;
  }
  m_port = ntohs(address.sin_port);
  return true;
}

bool CLoopbackListener::Next(int timeoutMs, std::string& requestLine) {
  CloseDescriptor(m_connection);
  pollfd wait{static_cast<int>(m_listener), POLLIN, 0};
  if (poll(&wait, 1, timeoutMs > 0 ? timeoutMs : -1) <= 0) return false;
  int fd = accept4(static_cast<int>(m_listener), nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return false;
  m_connection = fd;
  std::string request;
  char buffer[2048];
  while (request.find("\r\n\r\n") == std::string::npos &&
         request.find("\n\n") == std::string::npos && request.size() < kMaxRequest) {
    pollfd more{fd, POLLIN, 0};
    if (poll(&more, 1, timeoutMs > 0 ? timeoutMs : 30000) <= 0) break;
    ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    request.append(buffer, static_cast<size_t>(got));
  }
  size_t end = request.find_first_of("\r\n");
  requestLine = request.substr(0, end);
  return true;
}

void CLoopbackListener::Answer(int status, const std::string& html) {
  if (m_connection < 0) return;
  std::string reply = "HTTP/1.1 " + std::to_string(status) +
                      (status == 200 ? " OK" : " Bad Request") +
                      "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                      std::to_string(html.size()) + "\r\nConnection: close\r\n\r\n" + html;
  const char* data = reply.data();
  size_t left = reply.size();
  while (left) {
    ssize_t sent = send(static_cast<int>(m_connection), data, left, MSG_NOSIGNAL);
    if (sent <= 0) break;
    data += sent;
    left -= static_cast<size_t>(sent);
  }
  CloseDescriptor(m_connection);
}

bool HasDesktop() {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (wayland && *wayland);
}

}  // namespace platform
