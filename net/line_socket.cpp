#include "net/line_socket.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>

namespace {

constexpr int kCr = 13;
constexpr int kLf = 10;
constexpr size_t kReceiveChunk = 512;
constexpr size_t kFormatBuffer = 1024;
constexpr char kSecret[] = "*** SECRET! ***\r\n";
// Gathered sends and trace go out in blocks of about this size.
constexpr size_t kBlock = 256 * 1024;

// What is left of a connection whose TLS handshake failed: the transport
// is gone, and every later send or read fails at once.
class CFailedStream : public CByteStream {
 public:
  bool SendAll(const char*, size_t, int) override { return false; }
  long Receive(char*, size_t, int) override { return kReceiveError; }
  int Close() override { return 0; }
};

}  // namespace

CLineSocket::CLineSocket(bool quiet) : m_quiet(quiet) {
  m_startupStatus = platform::StartSocketLibrary();
  std::string name;
  // Found once and silently: the greeting announces it.
  if (platform::GetHostName(name) && LookupHostByName(name)) m_localHostName = m_remoteHostName;
  m_remoteHostName.clear();
  m_remoteAddress.clear();
  m_hasHostEntry = false;
  m_hostEntry = platform::HostEntry();
}

CLineSocket::~CLineSocket() {
  Close();
  if (m_startupStatus == 0) platform::StopSocketLibrary();
}

void CLineSocket::Trace(const char* format, ...) {
  if (m_quiet) return;
  FlushTrace();
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fflush(stderr);
}

// One trace text, written with a single call so that lines never
// interleave; behind whatever trace is gathered.
void CLineSocket::WriteTrace(std::string_view text) {
  FlushTrace();
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

void CLineSocket::FlushTrace() {
  if (m_traceBlock.empty()) return;
  std::fwrite(m_traceBlock.data(), 1, m_traceBlock.size(), stderr);
  std::fflush(stderr);
  m_traceBlock.clear();
}

bool CLineSocket::Open(const std::string& host, const char* service, int defaultPort,
                       long overridePort) {
  Close();
  if (m_startupStatus != 0) return false;
  if (!ResolveHost(host)) return false;
  std::unique_ptr<platform::CSocketStream> socket = platform::CSocketStream::Create();
  if (!socket) return false;
  // Kept even if the connect fails: Close reports it like any other socket.
  m_stream = std::move(socket);
  m_port = ResolvePort(service, defaultPort, overridePort);
  if (m_port == 0) return false;
  return ConnectSocket();
}

bool CLineSocket::ResolveHost(const std::string& host) {
  if (m_startupStatus != 0) return false;
  Trace("Looking up host %s\n", host.c_str());
  uint32_t address = 0;
  if (!platform::ParseDottedAddress(host, address)) return LookupHostByName(host);
  platform::HostEntry entry;
  if (!platform::LookupHostByAddress(address, entry)) {
    // The address is valid without a name: connect to it and show it as its
    // own name.
    entry.officialName = platform::FormatDottedAddress(address);
    entry.addresses.assign(1, address);
  }
  m_hostEntry = std::move(entry);
  m_hasHostEntry = true;
  m_remoteHostName = m_hostEntry.officialName;
  m_remoteAddress = platform::FormatDottedAddress(m_hostEntry.addresses.front());
  return true;
}

bool CLineSocket::LookupHostByName(const std::string& name) {
  if (m_startupStatus != 0) return false;
  platform::HostEntry entry;
  if (!platform::LookupHostByName(name, entry) || entry.addresses.empty()) return false;
  m_hostEntry = std::move(entry);
  m_hasHostEntry = true;
  m_remoteHostName = m_hostEntry.officialName;
  m_remoteAddress = platform::FormatDottedAddress(m_hostEntry.addresses.front());
  return true;
}

uint16_t CLineSocket::ResolvePort(const char* service, int defaultPort, long overridePort) {
  // A port outside the range is refused rather than cut to another port.
  if (overridePort != 0) {
    if (overridePort < 1 || overridePort > 65535) {
      Trace("Invalid port %ld\n", overridePort);
      return 0;
    }
    return platform::HostToNetwork16(static_cast<uint16_t>(overridePort));
  }
  uint16_t port = platform::LookupServicePort(service);
  if (port != 0) return port;
  if (defaultPort < 1 || defaultPort > 65535) return 0;
  return platform::HostToNetwork16(static_cast<uint16_t>(defaultPort));
}

bool CLineSocket::ConnectSocket() {
  auto* socket = dynamic_cast<platform::CSocketStream*>(m_stream.get());
  if (socket == nullptr || !m_hasHostEntry || m_hostEntry.addresses.empty()) return false;
  unsigned port = platform::NetworkToHost16(m_port);
  if (!socket->Connect(m_hostEntry.addresses.front(), m_port, m_timeouts.connectMs)) {
    Trace("Failed to connect to %s (%s) on port %u\n", m_remoteHostName.c_str(),
          m_remoteAddress.c_str(), port);
    return false;
  }
  Trace("Connected to %s (%s) on port %u\n", m_remoteHostName.c_str(), m_remoteAddress.c_str(),
        port);
  return true;
}

bool CLineSocket::SendFormatted(const char* format, ...) {
  char fixed[kFormatBuffer];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int length = std::vsnprintf(fixed, sizeof fixed, format, args);
  va_end(args);
  if (length < 0) {
    va_end(again);
    return false;
  }
  if (static_cast<size_t>(length) < sizeof fixed) {
    va_end(again);
    return SendText(std::string_view(fixed, static_cast<size_t>(length)));
  }
  // Too long for the usual buffer: format again into one that fits, so that
  // no text is ever cut.
  std::string grown(static_cast<size_t>(length) + 1, '\0');
  std::vsnprintf(grown.data(), grown.size(), format, again);
  va_end(again);
  grown.resize(static_cast<size_t>(length));
  return SendText(grown);
}

bool CLineSocket::SendText(std::string_view text) {
  // Once a send has failed the peer has lost bytes and nothing later can be
  // delivered; trying again would also wait out the send timeout once for
  // every remaining line when the peer has stopped reading.
  bool sent = m_stream && !m_sendFailed;
  if (sent && m_gather) {
    m_sendBlock.append(text);
    if (m_sendBlock.size() >= kBlock) sent = FlushSends();
  } else if (sent) {
    sent = m_stream->SendAll(text.data(), text.size(), m_timeouts.sendMs);
  }
  if (!sent) m_sendFailed = true;
  if (!m_quiet) {
    // The trace line is built where it is written: in the gathered block, or
    // in a string written at once.
    std::string direct;
    std::string& trace = m_gather ? m_traceBlock : direct;
    trace.append("--> ");
    if (m_traceMask >= 0 && text.size() > static_cast<size_t>(m_traceMask)) {
      trace.append(text.substr(0, static_cast<size_t>(m_traceMask)));
      trace.append(kSecret);
    } else {
      trace.append(text);
    }
    if (!m_gather) {
      WriteTrace(direct);
    } else if (m_traceBlock.size() >= kBlock) {
      FlushTrace();
    }
  }
  return sent;
}

void CLineSocket::GatherSends(bool on) {
  if (!on) FlushSends();
  m_gather = on;
}

bool CLineSocket::FlushSends() {
  FlushTrace();
  if (m_sendBlock.empty()) return m_stream && !m_sendFailed;
  bool sent = m_stream && !m_sendFailed &&
              m_stream->SendAll(m_sendBlock.data(), m_sendBlock.size(), m_timeouts.sendMs);
  if (!sent) m_sendFailed = true;
  m_sendBlock.clear();
  return sent;
}

long CLineSocket::FillBuffer() {
  // The peer answers only what it has been sent.
  FlushSends();
  if (!m_stream) return CByteStream::kReceiveError;
  while (m_receiveBuffer.size() - m_filled < kReceiveChunk) {
    m_receiveBuffer.resize(m_receiveBuffer.size() + 1024);
  }
  int wait = m_timeouts.replyMs;
  if (m_readDeadline >= 0) {
    int64_t left = m_readDeadline - platform::MonotonicMs();
    wait = left > 0 ? static_cast<int>(left) : 0;
  }
  long received = m_stream->Receive(&m_receiveBuffer[m_filled], kReceiveChunk, wait);
  if (received > 0) {
    m_filled += static_cast<size_t>(received);
  } else if (received == CByteStream::kReceiveTimeout) {
    m_readFailed = true;
    Trace("Timed out waiting for %s\n",
          m_remoteHostName.empty() ? "the peer" : m_remoteHostName.c_str());
  }
  return received;
}

int CLineSocket::ReadByte() {
  if (m_inputEnded) return -1;
  if (m_readPosition >= m_filled) {
    m_readPosition = 0;
    m_filled = 0;
    // Whatever ended input (close, error, timeout), nothing more is read.
    if (FillBuffer() <= 0) {
      m_inputEnded = true;
      return -1;
    }
  }
  return static_cast<unsigned char>(m_receiveBuffer[m_readPosition++]);
}

void CLineSocket::UnreadByte(int) {
  if (m_readPosition > 0) --m_readPosition;
}

long CLineSocket::ReadLine(std::string& line) {
  line.clear();
  bool dropBreak = std::exchange(m_dropLeadingBreak, false);
  for (;;) {
    int c = ReadByte();
    if (c < 0) {
      // A line cut short by a timeout is not a reply; one cut by the peer's
      // close is handed out as it is.
      if (m_readFailed) line.clear();
      if (line.empty()) return -1;
      break;
    }
    if (dropBreak) {
      dropBreak = false;
      if (c == kCr || c == kLf) continue;
    }
    if (c == kCr || c == kLf) {
      // The companion byte of the line end is taken only when it is already
      // here; waiting for it would stall on a peer that ends lines with LF.
      if (m_readPosition < m_filled) {
        int next = ReadByte();
        if (next != kCr && next != kLf) UnreadByte(next);
      } else {
        m_dropLeadingBreak = true;
      }
      break;
    }
    if (line.size() >= kMaxLineLength) {
      Trace("Line longer than %zu bytes received\n", kMaxLineLength);
      m_inputEnded = true;
      m_readFailed = true;
      line.clear();
      return -1;
    }
    line.push_back(static_cast<char>(c));
  }
  if (!m_quiet) WriteTrace("<-- " + line + "\n");
  return static_cast<long>(line.size());
}

bool CLineSocket::Close() {
  FlushSends();
  if (m_stream) {
    m_closeResult = m_stream->Close();
    m_stream.reset();
    Trace("Connection Closed [%u]\n", static_cast<unsigned>(m_closeResult));
  }
  m_closeResult = 0;
  m_remoteHostName.clear();
  m_remoteAddress.clear();
  m_receiveBuffer.clear();
  m_filled = 0;
  m_readPosition = 0;
  m_inputEnded = false;
  m_dropLeadingBreak = false;
  m_readFailed = false;
  m_sendFailed = false;
  m_gather = false;
  m_sendBlock.clear();
  m_readDeadline = -1;
  return true;
}

void CLineSocket::SetReadDeadline(int timeoutMs) {
  m_readDeadline = timeoutMs < 0 ? -1 : platform::MonotonicMs() + timeoutMs;
}

void CLineSocket::AttachStream(std::unique_ptr<CByteStream> stream) {
  Close();
  m_stream = std::move(stream);
}

bool CLineSocket::InputPending() {
  if (!m_stream || m_inputEnded) return false;
  if (m_readPosition >= m_filled) {
    m_readPosition = 0;
    m_filled = 0;
    if (m_receiveBuffer.size() < kReceiveChunk) m_receiveBuffer.resize(kReceiveChunk);
    long received = m_stream->Receive(&m_receiveBuffer[0], kReceiveChunk, 0);
    if (received <= 0) return false;
    m_filled = static_cast<size_t>(received);
  }
  // The LF of a line end split from its CR belongs to the line before.
  if (std::exchange(m_dropLeadingBreak, false)) {
    char c = m_receiveBuffer[m_readPosition];
    if (c == kCr || c == kLf) ++m_readPosition;
    if (m_readPosition >= m_filled) return InputPending();
  }
  return true;
}

bool CLineSocket::StartTls(const platform::TlsOptions& options, std::string& reason) {
  FlushSends();
  if (!m_stream || m_sendFailed) {
    reason = "the connection was lost";
    return false;
  }
  // Bytes read in clear text must never pass for bytes that came through TLS.
  if (m_readPosition < m_filled) {
    reason = "data was waiting before the TLS handshake";
    return false;
  }
  platform::TlsSessionInfo info;
  std::unique_ptr<CByteStream> secured =
      platform::StartTlsClient(std::move(m_stream), options, m_timeouts.replyMs, info, reason);
  if (!secured) {
    m_stream = std::make_unique<CFailedStream>();
    return false;
  }
  m_stream = std::move(secured);
  m_dropLeadingBreak = false;
  if (options.verify) {
    Trace("%s (%s), certificate verified for %s\n", info.protocol.c_str(), info.cipher.c_str(),
          options.hostName.c_str());
  } else {
    Trace("%s (%s), certificate not verified (--insecure)\n", info.protocol.c_str(),
          info.cipher.c_str());
  }
  return true;
}
