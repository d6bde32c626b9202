#include "net/line_socket.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "base/printable_text.h"
#include "net/ip_address.h"
#include "net/tls_names.h"

namespace {

constexpr int kCr = 13;
constexpr int kLf = 10;
constexpr size_t kReceiveChunk = 512;
constexpr size_t kFormatBuffer = 1024;
constexpr char kSecret[] = "*** SECRET! ***\r\n";
// Gathered sends and trace go out in blocks of about this size.
constexpr size_t kBlock = 256 * 1024;

// What is left of a connection whose stream a wrapper could not take over.
class CClosedStream : public CByteStream {
 public:
  bool SendAll(const char*, size_t, int) override { return false; }
  long Receive(char*, size_t, int) override { return kReceiveError; }
  int Close() override { return 0; }
};

bool IsBreak(int c) { return c == kCr || c == kLf; }

// Under a stream wrapped right after a line whose end was split across
// packets: drops the late second byte of that line end, which no record of
// the wrapping protocol (TLS starts with a content type) begins with.
class CLateBreakStream : public CByteStream {
 public:
  explicit CLateBreakStream(std::unique_ptr<CByteStream> inner) : m_inner(std::move(inner)) {}
  bool SendAll(const char* data, size_t size, int timeoutMs) override {
    return m_inner->SendAll(data, size, timeoutMs);
  }
  long Receive(char* buffer, size_t size, int timeoutMs) override {
    long received = m_inner->Receive(buffer, size, timeoutMs);
    if (m_pending && received > 0) {
      m_pending = false;
      if (IsBreak(static_cast<unsigned char>(buffer[0]))) {
        std::memmove(buffer, buffer + 1, static_cast<size_t>(received - 1));
        --received;
        if (received == 0) received = m_inner->Receive(buffer, size, timeoutMs);
      }
    }
    return received;
  }
  int Close() override { return m_inner->Close(); }

 private:
  std::unique_ptr<CByteStream> m_inner;
  bool m_pending = true;
};

}  // namespace

CLineSocket::CLineSocket(bool quiet, CResolver& resolver) : m_quiet(quiet), m_resolver(resolver) {
  m_startupStatus = platform::StartSocketLibrary();
  // Found once and silently: the greeting announces it.
  if (m_startupStatus != 0 || !m_resolver.LocalHostName(m_localHostName)) m_localHostName.clear();
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

// "--> " and the text as sent, masked past the trace-mask position; built
// where it is written: in the gathered block, or in a string written at once.
void CLineSocket::TraceSent(std::string_view text) {
  if (m_quiet) return;
  std::string direct;
  std::string& trace = m_connection.gather ? m_traceBlock : direct;
  trace.append("--> ");
  if (m_traceMask >= 0 && text.size() > static_cast<size_t>(m_traceMask)) {
    trace.append(text.substr(0, static_cast<size_t>(m_traceMask)));
    trace.append(kSecret);
  } else {
    trace.append(text);
  }
  if (!m_connection.gather) {
    WriteTrace(direct);
  } else if (m_traceBlock.size() >= kBlock && !m_framer) {
    // Framed, the block's trace waits for its BDAT line, which comes first.
    FlushTrace();
  }
}

void CLineSocket::TraceReceived(std::string_view line) {
  if (m_quiet) return;
  std::string trace = "<-- ";
  AppendPrintable(trace, line);
  trace += '\n';
  WriteTrace(trace);
}

void CLineSocket::TraceDecoded(std::string_view text) {
  if (m_quiet) return;
  std::string trace = "<-- (decoded) ";
  AppendPrintable(trace, text);
  trace += '\n';
  WriteTrace(trace);
}

const char* CLineSocket::PeerName() const {
  return m_connection.remoteHostName.empty() ? "the peer" : m_connection.remoteHostName.c_str();
}

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
  uint32_t dotted = 0;
  const bool isIPv6 = ParseIPv6Literal(host, literal);
  if (!isIPv6 && platform::ParseDottedAddress(host, dotted)) {
    literal.family = platform::SAddress::kIPv4;
    std::memcpy(literal.bytes, &dotted, sizeof dotted);
  }
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
  const int64_t deadline =
      m_timeouts.connectMs < 0 ? -1 : platform::MonotonicMs() + m_timeouts.connectMs;
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
    int share = -1;
    if (deadline >= 0) {
      const int64_t left = deadline - platform::MonotonicMs();
      share = left > 0 ? static_cast<int>(left / static_cast<int64_t>(c.addresses.size() - i)) : 0;
    }
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
  if (m_sink) {
    m_sink->Write(text);
    return true;
  }
  // The trace shows what left, once it has left: a gathered text's trace
  // waits with it for the send of its block, the block it fills included.
  const SConnection& c = m_connection;
  if (c.gather && c.stream && !c.sendFailed) {
    TraceSent(text);
    m_bytesTaken += text.size();
    return SendBytes(text);
  }
  const bool sent = SendBytes(text);
  if (sent) {
    m_bytesTaken += text.size();
    TraceSent(text);
  }
  return sent;
}

// Sends now, or gathers while gathering is on.
bool CLineSocket::SendBytes(std::string_view text) {
  SConnection& c = m_connection;
  // Once a send has failed the peer has lost bytes and nothing later can be
  // delivered; trying again would also wait out the send timeout once for
  // every remaining line when the peer has stopped reading.
  if (!c.stream || c.sendFailed) {
    c.sendFailed = true;
    return false;
  }
  if (c.gather) {
    c.sendBlock.append(text);
    return c.sendBlock.size() < kBlock || FlushSends();
  }
  if (!SendToStream(text.data(), text.size())) c.sendFailed = true;
  return !c.sendFailed;
}

// The whole of data to the stream; under watch in pieces, each reported.
bool CLineSocket::SendToStream(const char* data, size_t size, size_t skip, size_t counted) {
  CByteStream& stream = *m_connection.stream;
  if (!m_watcher) return stream.SendAll(data, size, m_timeouts.sendMs);
  constexpr size_t kPiece = 64 * 1024;
  const size_t countedEnd = counted > size - std::min(skip, size) ? size : skip + counted;
  for (size_t done = 0; done < size;) {
    const size_t piece = std::min(kPiece, size - done);
    if (!stream.SendAll(data + done, piece, m_timeouts.sendMs)) return false;
    const size_t from = std::max(done, std::min(skip, size));
    const size_t to = std::min(done + piece, countedEnd);
    done += piece;
    if (to > from) {
      m_watchedBytes += to - from;
      m_watcher->Sent(m_watchedBytes);
    }
  }
  return true;
}

void CLineSocket::WatchSends(CSendWatcher* watcher) {
  m_watcher = watcher;
  m_watchedBytes = 0;
  if (m_watcher) m_watcher->Sent(0);
}

void CLineSocket::GatherSends(bool on) {
  if (!on) FlushSends();
  m_connection.gather = on;
}

bool CLineSocket::FlushSends() {
  SConnection& c = m_connection;
  if (m_framer && !c.sendBlock.empty()) {
    return WriteFramed(std::exchange(c.sendBlock, std::string()),
                       std::exchange(m_traceBlock, std::string()));
  }
  if (c.sendBlock.empty()) {
    FlushTrace();
    return c.stream && !c.sendFailed;
  }
  // The block's trace is shown once the block has left; what never left
  // is not shown as sent.
  std::string trace = std::exchange(m_traceBlock, std::string());
  bool sent = c.stream && !c.sendFailed && NothingWaiting() &&
              SendToStream(c.sendBlock.data(), c.sendBlock.size());
  if (sent) {
    WriteTrace(trace);
  } else {
    c.sendFailed = true;
  }
  c.sendBlock.clear();
  return sent;
}

bool CLineSocket::WriteFramedBlock() {
  return WriteFramed(std::exchange(m_connection.sendBlock, std::string()),
                     std::exchange(m_traceBlock, std::string()));
}

// The block and its frame in one write, so that a last chunk and the
// command after it share a packet. Taken out of the connection before the
// framer runs: its reads flush sends.
bool CLineSocket::WriteFramed(std::string block, std::string trace) {
  SConnection& c = m_connection;
  const std::string header = m_framer->Header(block.size());
  const std::string trailer = m_framer->Trailer();
  std::string wire;
  wire.reserve(header.size() + block.size() + trailer.size());
  wire.append(header).append(block).append(trailer);
  block = std::string();
  const bool sent = c.stream && !c.sendFailed &&
                    SendToStream(wire.data(), wire.size(), header.size(),
                                 wire.size() - header.size() - trailer.size());
  if (!sent) {
    c.sendFailed = true;
    return false;
  }
  if (!m_quiet) {
    std::string shown = "--> " + header + trace;
    if (!trailer.empty()) shown += "--> " + trailer;
    WriteTrace(shown);
  }
  if (!m_framer->Written()) c.sendFailed = true;
  return !c.sendFailed;
}

long CLineSocket::FillBuffer() {
  // The peer answers only what it has been sent.
  FlushSends();
  SConnection& c = m_connection;
  if (!c.stream) return CByteStream::kReceiveError;
  while (c.receiveBuffer.size() - c.filled < kReceiveChunk) {
    c.receiveBuffer.resize(c.receiveBuffer.size() + 1024);
  }
  long received = CByteStream::kReceiveTimeout;
  int wait = m_timeouts.replyMs;
  if (c.readDeadline >= 0) {
    const int64_t left = c.readDeadline - platform::MonotonicMs();
    wait = left > 0 ? static_cast<int>(left) : 0;
  }
  // Past the deadline nothing more is read, even when bytes wait: a peer
  // that keeps talking must not hold the reply open.
  if (c.readDeadline < 0 || wait > 0) {
    received = c.stream->Receive(&c.receiveBuffer[c.filled], kReceiveChunk, wait);
  }
  if (received > 0) {
    c.filled += static_cast<size_t>(received);
  } else if (received == CByteStream::kReceiveTimeout) {
    c.readFailed = true;
    Trace("Timed out waiting for %s\n", PeerName());
  }
  return received;
}

int CLineSocket::ReadByte() {
  SConnection& c = m_connection;
  if (c.inputEnded) return -1;
  if (c.readPosition >= c.filled) {
    c.readPosition = 0;
    c.filled = 0;
    // Whatever ended input (close, error, timeout), nothing more is read.
    if (FillBuffer() <= 0) {
      c.inputEnded = true;
      return -1;
    }
  }
  return static_cast<unsigned char>(c.receiveBuffer[c.readPosition++]);
}

void CLineSocket::UnreadByte(int) {
  if (m_connection.readPosition > 0) --m_connection.readPosition;
}

long CLineSocket::ReadLine(std::string& line) {
  SConnection& c = m_connection;
  line.clear();
  // What is gathered goes out first: its check for unasked bytes must still
  // know that the rest of the last line end may follow.
  FlushSends();
  bool dropBreak = std::exchange(c.dropLeadingBreak, false);
  for (;;) {
    if (!dropBreak) TakeLineBytes(line);
    int byte = ReadByte();
    if (byte < 0) {
      // A line cut short by a timeout is not a reply; one cut by the peer's
      // close is handed out as it is.
      if (c.readFailed) line.clear();
      if (line.empty()) return -1;
      break;
    }
    if (dropBreak) {
      dropBreak = false;
      if (IsBreak(byte)) continue;
    }
    if (IsBreak(byte)) {
      // The companion byte of the line end is taken only when it is already
      // here; waiting for it would stall on a peer that ends lines with LF.
      if (c.readPosition < c.filled) {
        int next = ReadByte();
        if (!IsBreak(next)) UnreadByte(next);
      } else {
        c.dropLeadingBreak = true;
      }
      break;
    }
    const bool longLine = line.size() >= kMaxLineLength;
    if (longLine || (c.inReply && c.replyBytes >= kMaxReplyLength)) {
      if (longLine) {
        Trace("Line longer than %zu bytes received\n", kMaxLineLength);
      } else {
        Trace("Reply longer than %zu bytes received\n", kMaxReplyLength);
      }
      c.inputEnded = true;
      c.readFailed = true;
      line.clear();
      return -1;
    }
    line.push_back(static_cast<char>(byte));
    ++c.replyBytes;
  }
  TraceReceived(line);
  return static_cast<long>(line.size());
}

// Moves the held bytes up to the next line end into line at once, within
// the line and reply bounds; the byte loop of ReadLine does the rest.
void CLineSocket::TakeLineBytes(std::string& line) {
  SConnection& c = m_connection;
  if (c.readPosition >= c.filled) return;
  const char* begin = c.receiveBuffer.data() + c.readPosition;
  size_t run = c.filled - c.readPosition;
  if (const void* cr = std::memchr(begin, kCr, run)) {
    run = static_cast<size_t>(static_cast<const char*>(cr) - begin);
  }
  if (const void* lf = std::memchr(begin, kLf, run)) {
    run = static_cast<size_t>(static_cast<const char*>(lf) - begin);
  }
  const size_t lineRoom = line.size() < kMaxLineLength ? kMaxLineLength - line.size() : 0;
  if (run > lineRoom) run = lineRoom;
  if (c.inReply) {
    const size_t replyRoom = c.replyBytes < kMaxReplyLength ? kMaxReplyLength - c.replyBytes : 0;
    if (run > replyRoom) run = replyRoom;
  }
  line.append(begin, run);
  c.readPosition += run;
  c.replyBytes += run;
}

bool CLineSocket::NothingWaiting() {
  SConnection& c = m_connection;
  if (c.readPosition >= c.filled && !c.inputEnded && c.stream) {
    c.readPosition = 0;
    c.filled = 0;
    if (c.receiveBuffer.size() < kReceiveChunk) c.receiveBuffer.resize(kReceiveChunk);
    const long received = c.stream->Receive(c.receiveBuffer.data(), kReceiveChunk, 0);
    if (received > 0) {
      c.filled = static_cast<size_t>(received);
    } else if (received != CByteStream::kReceiveTimeout) {
      // Closed or broken: nothing waits, and the next read ends at once.
      c.inputEnded = true;
    }
  }
  // The second byte of a line end split across receives is no answer.
  if (c.dropLeadingBreak && c.readPosition < c.filled &&
      IsBreak(static_cast<unsigned char>(c.receiveBuffer[c.readPosition]))) {
    ++c.readPosition;
    c.dropLeadingBreak = false;
    return NothingWaiting();
  }
  if (c.readPosition >= c.filled) return true;
  Trace("%s replied before it was asked\n", PeerName());
  return false;
}

bool CLineSocket::Close() {
  FlushSends();
  if (m_connection.stream) {
    const int closeResult = m_connection.stream->Close();
    m_connection.stream.reset();
    Trace("Connection Closed [%u]\n", static_cast<unsigned>(closeResult));
  }
  m_connection = {};
  return true;
}

void CLineSocket::BeginReply(int timeoutMs) {
  m_connection.readDeadline = timeoutMs < 0 ? -1 : platform::MonotonicMs() + timeoutMs;
  m_connection.replyBytes = 0;
  m_connection.inReply = true;
}

void CLineSocket::EndReply() {
  m_connection.readDeadline = -1;
  m_connection.inReply = false;
}

void CLineSocket::AttachStream(std::unique_ptr<CByteStream> stream) {
  Close();
  m_connection.stream = std::move(stream);
}

bool CLineSocket::WrapStream(const StreamWrapper& wrap) {
  SConnection& c = m_connection;
  FlushSends();
  if (!c.stream || c.sendFailed || !NothingWaiting()) return false;
  // The new stream starts with an empty read buffer and a fresh line; the
  // rest of a line end split across packets may still be on its way.
  c.receiveBuffer.clear();
  c.filled = 0;
  c.readPosition = 0;
  if (std::exchange(c.dropLeadingBreak, false)) {
    c.stream = std::make_unique<CLateBreakStream>(std::move(c.stream));
  }
  c.stream = wrap(std::move(c.stream));
  if (c.stream) return true;
  // The wrapper owned the socket and closed it; what is left fails every
  // send and read at once, and Close still reports the connection closed.
  c.socket = nullptr;
  c.stream = std::make_unique<CClosedStream>();
  return false;
}

bool CLineSocket::StartTls(const platform::TlsOptions& given, std::string& reason) {
  platform::TlsOptions options = given;
  options.hostName = tls_names::CertificateHostName(given.hostName);
  if (!m_connection.stream || m_connection.sendFailed) {
    reason = "the connection was lost";
    return false;
  }
  // Bytes read in clear text must never pass for bytes that came through TLS.
  if (!NothingWaiting()) {
    reason = "data was waiting before the TLS handshake";
    return false;
  }
  platform::TlsSessionInfo info;
  const int timeoutMs = m_timeouts.replyMs;
  const bool secured = WrapStream([&](std::unique_ptr<CByteStream> plain) {
    return platform::StartTlsClient(std::move(plain), options, timeoutMs, info, reason);
  });
  if (!secured) {
    if (reason.empty()) reason = "the connection was lost";
    return false;
  }
  if (options.verify) {
    Trace("%s (%s), certificate verified for %s\n", info.protocol.c_str(), info.cipher.c_str(),
          options.hostName.c_str());
  } else {
    Trace("%s (%s), certificate not verified (--insecure)\n", info.protocol.c_str(),
          info.cipher.c_str());
  }
  return true;
}
