// Finding the relay and connecting to it: a literal or a name's addresses,
// the port, and each address tried within its share of the connect time.
#include <string>
#include <utility>
#include <vector>

#include "net/ip_address.h"
#include "net/line_socket.h"

bool CLineSocket::Open(const std::string& host, const char* service, int defaultPort,
                       long overridePort) {
  Close();
  m_connectFailure.clear();
  if (m_startupStatus != 0) return false;
  if (!ResolveHost(host)) {
    m_connectFailure = "No address found for " + host;
    return false;
  }
  // Made before the port is checked: Close reports it like any other socket.
  std::unique_ptr<platform::CSocketStream> socket =
      platform::CSocketStream::Create(m_connection.addresses.front().family);
  if (socket) {
    m_connection.socket = socket.get();
    m_connection.stream = std::move(socket);
  }
  m_port = ResolvePort(service, defaultPort, overridePort);
  if (m_port == 0) return false;
  return ConnectSocket();
}

bool CLineSocket::ResolveHost(const std::string& host) {
  if (m_startupStatus != 0) return false;
  Trace("Looking up host %s\n", host.c_str());
  SConnection& c = m_connection;
  platform::SAddress literal;
  if (!ParseIPv6Literal(host, literal)) ParseInetAddress(host, literal);
  std::vector<platform::SAddress> addresses;
  std::string name;
  if (literal.family != platform::SAddress::kNone) {
    const auto allowed = literal.family == platform::SAddress::kIPv6
                             ? platform::AddressFamilies::kIPv6Only
                             : platform::AddressFamilies::kIPv4Only;
    if (m_families != platform::AddressFamilies::kAny && m_families != allowed) return false;
    // A literal is connected to as it is; its name only labels the trace, so
    // it is looked up only for a trace, and no longer than a connect waits.
    if (m_quiet || !m_resolver.ReverseName(literal, m_timeouts.connectMs, name)) {
      name = FormatAddress(literal);
    }
    addresses.assign(1, literal);
  } else if (!m_resolver.Resolve(host, m_families, name, addresses) || addresses.empty()) {
    return false;
  }
  c.addresses = std::move(addresses);
  c.remoteHostName = name;
  c.remoteAddress = FormatAddress(c.addresses.front());
  return true;
}

uint16_t CLineSocket::ResolvePort(const char* service, int defaultPort, long overridePort) {
  // A port outside the range is refused rather than cut to another port.
  if (overridePort != 0) {
    if (overridePort < 1 || overridePort > 65535) {
      m_connectFailure = "Invalid port " + std::to_string(overridePort);
      return 0;
    }
    return platform::HostToNetwork16(static_cast<uint16_t>(overridePort));
  }
  uint16_t port = platform::LookupServicePort(service);
  if (port != 0) return port;
  if (defaultPort < 1 || defaultPort > 65535) return 0;
  return platform::HostToNetwork16(static_cast<uint16_t>(defaultPort));
}

namespace {

// The trace's reason for a failed attempt, and the line that tells the user.
void DescribeFailure(platform::ConnectError error, const std::string& text,
                     const std::string& address, unsigned port, std::string& reason,
                     std::string& failure) {
  const std::string onPort = address + " on port " + std::to_string(port);
  switch (error) {
    case platform::ConnectError::kRefused:
      reason = "Connection refused";
      failure = "Connection refused by " + onPort;
      break;
    case platform::ConnectError::kTimedOut:
      reason = "Timed out";
      failure = "Timed out connecting to " + onPort;
      break;
    case platform::ConnectError::kNetworkUnreachable:
      reason = "Network unreachable";
      failure = "Network unreachable for " + address;
      break;
    case platform::ConnectError::kHostUnreachable:
      reason = "Host unreachable";
      failure = "Host unreachable for " + address;
      break;
    default:
      reason = text.empty() ? "Connect failed" : text;
      failure = "Could not connect to " + onPort + ": " + reason;
      break;
  }
}

}  // namespace
bool CLineSocket::ConnectSocket() {
  SConnection& c = m_connection;
  if (c.addresses.empty() || m_port == 0) return false;
  const unsigned port = platform::NetworkToHost16(m_port);
  const CDeadline deadline = CDeadline::Start(m_timeouts.connectMs);
  for (size_t i = 0; i < c.addresses.size(); ++i) {
    const platform::SAddress& address = c.addresses[i];
    c.remoteAddress = FormatAddress(address);
    if (i > 0 || !c.socket) {
      // The socket of a failed attempt goes silently; only the last one
      // stays to be reported by Close.
      if (c.stream) c.stream->Close();
      c.stream.reset();
      c.socket = nullptr;
      std::unique_ptr<platform::CSocketStream> socket = platform::CSocketStream::Create(address.family);
      if (socket) {
        c.socket = socket.get();
        c.stream = std::move(socket);
      }
    }
    // A dead address must not use up the time of the ones after it.
    int share = deadline.RemainingMs();
    if (share > 0) share = static_cast<int>(share / static_cast<int64_t>(c.addresses.size() - i));
    platform::ConnectError error = platform::ConnectError::kOther;
    std::string text = c.socket ? std::string() : "no socket for this address family";
    if (c.socket && c.socket->Connect(address, m_port, share, error, text)) {
      platform::SAddress local;
      if (c.socket->LocalAddress(local)) c.localAddress = FormatAddress(local);
      m_connectFailure.clear();
      Trace("Connected to %s (%s) on port %u\n", c.remoteHostName.c_str(), c.remoteAddress.c_str(),
            port);
      return true;
    }
    std::string reason;
    DescribeFailure(error, text, c.remoteAddress, port, reason, m_connectFailure);
    Trace("Failed to connect to %s (%s) on port %u: %s\n", c.remoteHostName.c_str(),
          c.remoteAddress.c_str(), port, reason.c_str());
  }
  return false;
}
