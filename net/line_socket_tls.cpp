// Wrapping the connection's stream: an attached stream, a wrapper taking
// over the stream (a TLS session), and StartTls through it.
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "net/line_socket.h"
#include "net/line_socket_parts.h"
#include "net/tls_names.h"

using line_socket::IsBreak;

namespace {

// What is left of a connection whose stream a wrapper could not take over.
class CClosedStream : public CByteStream {
 public:
  bool SendAll(const char*, size_t, int) override { return false; }
  long Receive(char*, size_t, int) override { return kReceiveError; }
  int Close() override { return 0; }
};


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

bool CLineSocket::StartTls(const platform::TlsOptions& given, platform::TlsFailure& failure) {
  platform::TlsOptions options = given;
  options.hostName = tls_names::CertificateHostName(given.hostName);
  failure = {};
  if (!m_connection.stream || m_connection.sendFailed) {
    failure.kind = platform::TlsFailureKind::kLost;
    return false;
  }
  // Bytes read in clear text must never pass for bytes that came through TLS.
  if (!NothingWaiting()) {
    failure.kind = platform::TlsFailureKind::kDataWaiting;
    return false;
  }
  platform::TlsSessionInfo info;
  const int timeoutMs = m_timeouts.replyMs;
  const bool secured = WrapStream([&](std::unique_ptr<CByteStream> plain) {
    return platform::StartTlsClient(std::move(plain), options, timeoutMs, info, failure);
  });
  if (!secured) {
    // A wrapper that never ran leaves kNone: the connection was gone.
    if (failure.kind == platform::TlsFailureKind::kNone) {
      failure.kind = platform::TlsFailureKind::kLost;
    }
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
