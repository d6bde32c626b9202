#include "platform/loopback_listener.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

namespace platform {
namespace {

constexpr size_t kMaxRequest = 16384;

void CloseSocket(long long& s) {
  if (s >= 0) closesocket(static_cast<SOCKET>(s));
  s = -1;
}

bool Readable(SOCKET s, int timeoutMs) {
  WSAPOLLFD wait{s, POLLRDNORM, 0};
  return WSAPoll(&wait, 1, timeoutMs > 0 ? timeoutMs : -1) > 0;
}

}  // namespace

CLoopbackListener::~CLoopbackListener() {
  CloseSocket(m_connection);
  CloseSocket(m_listener);
}

bool CLoopbackListener::Open() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  m_listener = static_cast<long long>(s);
  // Another program must not take the port over while the sign-in waits.
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
             sizeof exclusive);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 4) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    CloseSocket(m_listener);
    return false;
  }
  m_port = ntohs(address.sin_port);
  return true;
}

bool CLoopbackListener::Next(int timeoutMs, std::string& requestLine) {
  CloseSocket(m_connection);
  if (!Readable(static_cast<SOCKET>(m_listener), timeoutMs)) return false;
  SOCKET s = accept(static_cast<SOCKET>(m_listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return false;
  m_connection = static_cast<long long>(s);
  std::string request;
  char buffer[2048];
  while (request.find("\r\n\r\n") == std::string::npos &&
         request.find("\n\n") == std::string::npos && request.size() < kMaxRequest) {
    if (!Readable(s, timeoutMs > 0 ? timeoutMs : 30000)) break;
    int got = recv(s, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    request.append(buffer, static_cast<size_t>(got));
  }
  requestLine = request.substr(0, request.find_first_of("\r\n"));
  return true;
}

void CLoopbackListener::Answer(int status, const std::string& html) {
  if (m_connection < 0) return;
  std::string reply = "HTTP/1.1 " + std::to_string(status) +
                      (status == 200 ? " OK" : " Bad Request") +
                      "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                      std::to_string(html.size()) + "\r\nConnection: close\r\n\r\n" + html;
  const char* data = reply.data();
  int left = static_cast<int>(reply.size());
  while (left > 0) {
    int sent = send(static_cast<SOCKET>(m_connection), data, left, 0);
    if (sent <= 0) break;
    data += sent;
    left -= sent;
  }
  CloseSocket(m_connection);
}

bool HasDesktop() { return true; }

}  // namespace platform
