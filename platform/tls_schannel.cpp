// The TLS client on SChannel: the handshake, the records in and out and the
// close_notify, over any CByteStream, so that every wait is the transport's.
#include "platform/tls.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/deadline.h"
#include "net/tls_names.h"
#include "platform/tls_schannel_setup_win32.h"
#include "platform/tls_verify_win32.h"
#include "platform/wide_text_win32.h"

namespace platform {
namespace {

constexpr DWORD kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                  ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                  ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                  ISC_REQ_MANUAL_CRED_VALIDATION;
constexpr int kCloseNotifyTimeoutMs = 1000;
constexpr size_t kReadChunk = 32 * 1024;
// Records are encrypted into one buffer of about this size and sent at once.
constexpr size_t kSendBatch = 256 * 1024;

class CSchannelStream : public CByteStream {
 public:
  explicit CSchannelStream(std::unique_ptr<CByteStream> transport)
      : m_transport(std::move(transport)) {}
  ~CSchannelStream() override { Close(); }

  bool Start(const TlsOptions& options, int timeoutMs, TlsSessionInfo& info,
             TlsFailure& failure) {
    CertStore anchors;
    if (options.verify && !options.caFile.empty()) {
      anchors = LoadPemCertificates(options.caFile, failure);
      if (!anchors) return false;
    }
    SECURITY_STATUS status;
    if (!AcquireCredentials(m_credentials, status)) {
      failure.kind = TlsFailureKind::kSetup;
      failure.detail = "error " + HexCode(static_cast<unsigned long>(status));
      return false;
    }
    m_haveCredentials = true;
    std::string address;
    // The name goes out as SNI; an address literal is not a name.
    if (!tls_names::ParseAddressLiteral(options.hostName, address)) {
      m_target = WideFromUtf8(options.hostName);
    }
    const CDeadline deadline = CDeadline::Start(timeoutMs);
    if (!Negotiate(deadline, failure)) return false;

    SecPkgContext_ConnectionInfo connection = {};
    if (QueryContextAttributesW(&m_context, SECPKG_ATTR_CONNECTION_INFO, &connection) !=
            SEC_E_OK ||
        (connection.dwProtocol & kAcceptedProtocols) == 0) {
      failure.kind = TlsFailureKind::kOldProtocol;
      return false;
    }
    if (QueryContextAttributesW(&m_context, SECPKG_ATTR_STREAM_SIZES, &m_sizes) != SEC_E_OK ||
        m_sizes.cbMaximumMessage == 0) {
      failure.kind = TlsFailureKind::kHandshake;
      failure.detail = "cannot read the record sizes";
      return false;
    }
    if (options.verify) {
      const CERT_CONTEXT* remote = nullptr;
      if (QueryContextAttributesW(&m_context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) !=
              SEC_E_OK ||
          !remote) {
        failure.kind = TlsFailureKind::kNoCertificate;
        return false;
      }
      const bool trusted =
          VerifyRelayCertificate(remote, anchors.get(), options.hostName, failure);
      CertFreeCertificateContext(remote);
      if (!trusted) return false;
    }
    info.protocol = ProtocolName(connection.dwProtocol);
    info.cipher = CipherName();
    m_established = true;
    return true;
  }

  bool SendAll(const char* data, size_t size, int timeoutMs) override {
    if (!m_established) return false;
    const size_t header = m_sizes.cbHeader;
    const size_t trailer = m_sizes.cbTrailer;
    while (size > 0) {
      m_out.clear();
      while (size > 0 && m_out.size() < kSendBatch) {
        const size_t piece = size < m_sizes.cbMaximumMessage ? size : m_sizes.cbMaximumMessage;
        const size_t at = m_out.size();
        m_out.resize(at + header + piece + trailer);
        char* record = m_out.data() + at;
        std::memcpy(record + header, data, piece);
        SecBuffer buffers[4] = {
            {static_cast<unsigned long>(header), SECBUFFER_STREAM_HEADER, record},
            {static_cast<unsigned long>(piece), SECBUFFER_DATA, record + header},
            {static_cast<unsigned long>(trailer), SECBUFFER_STREAM_TRAILER,
             record + header + piece},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc description = {SECBUFFER_VERSION, 4, buffers};
        if (EncryptMessage(&m_context, 0, &description, 0) != SEC_E_OK) return false;
        // The trailer may come out shorter than its maximum.
        m_out.resize(at + buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
        data += piece;
        size -= piece;
      }
      if (!m_transport->SendAll(m_out.data(), m_out.size(), timeoutMs)) return false;
    }
    return true;
  }

  long Receive(char* buffer, size_t size, int timeoutMs) override {
    if (!m_established) return kReceiveError;
    const CDeadline deadline = CDeadline::Start(timeoutMs);
    bool filled = false;
    for (;;) {
      if (m_plainAt < m_plain.size()) {
        size_t count = m_plain.size() - m_plainAt;
        if (count > size) count = size;
        std::memcpy(buffer, m_plain.data() + m_plainAt, count);
        m_plainAt += count;
        return static_cast<long>(count);
      }
      if (m_peerClosed) return 0;
      if (!m_in.empty()) {
        Decrypted result = DecryptRecord(deadline);
        if (result == Decrypted::kFailed) return kReceiveError;
        if (result == Decrypted::kProgress) continue;
      }
      // Records that carry no application data (key updates, tickets) must
      // not hold the wait past its deadline: after the first read, an
      // expired deadline ends it whatever is still arriving.
      if (filled && deadline.Expired()) return kReceiveTimeout;
      long got = Fill(deadline);
      if (got <= 0) return got;
      filled = true;
    }
  }

  int Close() override {
    if (!m_transport) return 0;
    if (m_established) SendCloseNotify();
    m_established = false;
    if (m_haveContext) DeleteSecurityContext(&m_context);
    if (m_haveCredentials) FreeCredentialsHandle(&m_credentials);
    m_haveContext = m_haveCredentials = false;
    int result = m_transport->Close();
    m_transport.reset();
    return result;
  }

 private:
  enum class Decrypted { kProgress, kNeedMore, kFailed };

  // Reads more encrypted bytes; the count, 0 closed, or a receive error.
  long Fill(const CDeadline& deadline) {
    char chunk[kReadChunk];
    long got = m_transport->Receive(chunk, sizeof chunk, deadline.RemainingMs());
    if (got > 0) m_in.append(chunk, static_cast<size_t>(got));
    return got;
  }

  // One InitializeSecurityContext step over input; sends the token it
  // produces (a handshake message, or an alert on failure).
  SECURITY_STATUS Step(SecBufferDesc* input, const CDeadline& deadline, bool& sent) {
    SecBuffer out = {0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDescription = {SECBUFFER_VERSION, 1, &out};
    unsigned long attributes = 0;
    SECURITY_STATUS status = InitializeSecurityContextW(
        &m_credentials, m_haveContext ? &m_context : nullptr,
        m_target.empty() ? nullptr : m_target.data(), kContextRequest, 0, 0, input, 0,
        m_haveContext ? nullptr : &m_context, &outDescription, &attributes, nullptr);
    if (!m_haveContext && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) {
      m_haveContext = true;
    }
    sent = true;
    if (out.pvBuffer) {
      if (out.cbBuffer > 0) {
        sent = m_transport->SendAll(static_cast<const char*>(out.pvBuffer), out.cbBuffer,
                                    deadline.RemainingMs());
      }
      FreeContextBuffer(out.pvBuffer);
    }
    return status;
  }

  // The handshake, from the first message or (when a context exists) from
  // the handshake bytes waiting in m_in. Bytes after the handshake stay in
  // m_in for DecryptMessage.
  bool Negotiate(const CDeadline& deadline, TlsFailure& failure) {
    bool sent = true;
    bool needInput = m_in.empty();
    if (!m_haveContext) {
      SECURITY_STATUS status = Step(nullptr, deadline, sent);
      if (status != SEC_I_CONTINUE_NEEDED) {
        failure = StepFailure(status);
        return false;
      }
      needInput = true;
    }
    for (;;) {
      if (!sent) {
        failure.kind = TlsFailureKind::kConnectionLost;
        return false;
      }
      if (needInput) {
        // A peer that keeps sending cannot stretch the handshake either.
        long got = deadline.Expired() ? kReceiveTimeout : Fill(deadline);
        if (got == 0) {
          failure.kind = TlsFailureKind::kClosed;
          return false;
        }
        if (got == kReceiveTimeout) {
          failure.kind = TlsFailureKind::kTimedOut;
          return false;
        }
        if (got < 0) {
          failure.kind = TlsFailureKind::kConnectionLost;
          return false;
        }
      }
      failure = FailureBeforeHandshakeStep(m_in);
      if (failure.kind != TlsFailureKind::kNone) return false;
      SecBuffer in[2] = {{static_cast<unsigned long>(m_in.size()), SECBUFFER_TOKEN, m_in.data()},
                         {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc inDescription = {SECBUFFER_VERSION, 2, in};
      SECURITY_STATUS status = Step(&inDescription, deadline, sent);
      if (status == SEC_E_INCOMPLETE_MESSAGE) {
        needInput = true;
        continue;
      }
      if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
        // The relay asks for a client certificate: go on without one.
        if (deadline.Expired()) {
          failure.kind = TlsFailureKind::kTimedOut;
          return false;
        }
        needInput = false;
        continue;
      }
      if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0) {
        m_in.erase(0, m_in.size() - in[1].cbBuffer);
      } else {
        m_in.clear();
      }
      if (status == SEC_E_OK) {
        if (sent) return true;
        failure.kind = TlsFailureKind::kConnectionLost;
        return false;
      }
      if (status != SEC_I_CONTINUE_NEEDED) {
        failure = StepFailure(status);
        return false;
      }
      needInput = m_in.empty();
    }
  }

  // Decrypts the next record of m_in into m_plain.
  Decrypted DecryptRecord(const CDeadline& deadline) {
    SecBuffer buffers[4] = {{static_cast<unsigned long>(m_in.size()), SECBUFFER_DATA, m_in.data()},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc description = {SECBUFFER_VERSION, 4, buffers};
    // Some SChannels (Wine's) hand a close_notify back as an empty record
    // instead of SEC_I_CONTEXT_EXPIRED; after the handshake the only alert
    // that decrypts without an error is a warning, and this client never
    // renegotiates, so an alert record here ends the stream.
    const bool alertRecord = static_cast<unsigned char>(m_in[0]) == kAlertRecord;
    SECURITY_STATUS status = DecryptMessage(&m_context, &description, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return Decrypted::kNeedMore;
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
      return Decrypted::kFailed;
    }
    // Both point into m_in, decrypted in place: copy them out before it changes.
    m_plain.clear();
    m_plainAt = 0;
    std::string extra;
    for (const SecBuffer& buffer : buffers) {
      if (buffer.BufferType == SECBUFFER_DATA && buffer.cbBuffer > 0) {
        m_plain.assign(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
      } else if (buffer.BufferType == SECBUFFER_EXTRA && buffer.cbBuffer > 0) {
        extra.assign(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
      }
    }
    m_in = extra;
    if (status == SEC_I_CONTEXT_EXPIRED || (alertRecord && m_plain.empty())) {
      m_peerClosed = true;  // close_notify
    } else if (status == SEC_I_RENEGOTIATE) {
      // Post-handshake messages (TLS 1.3 tickets, key updates) go back to
      // the handshake, starting from the bytes that followed the record.
      TlsFailure ignored;
      if (!Negotiate(deadline, ignored)) return Decrypted::kFailed;
    }
    return Decrypted::kProgress;
  }

  void SendCloseNotify() {
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer token = {sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc description = {SECBUFFER_VERSION, 1, &token};
    if (ApplyControlToken(&m_context, &description) != SEC_E_OK) return;
    bool sent;
    Step(nullptr, CDeadline::Start(kCloseNotifyTimeoutMs), sent);
  }

  std::string CipherName() {
    SecPkgContext_CipherInfo cipher = {};
    cipher.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
    if (QueryContextAttributesW(&m_context, SECPKG_ATTR_CIPHER_INFO, &cipher) != SEC_E_OK) {
      return "unknown cipher";
    }
    return SuiteName(Utf8FromWide(cipher.szCipherSuite));
  }

  std::unique_ptr<CByteStream> m_transport;
  CredHandle m_credentials = {};
  CtxtHandle m_context = {};
  bool m_haveCredentials = false;
  bool m_haveContext = false;
  bool m_established = false;
  bool m_peerClosed = false;
  std::wstring m_target;  // SNI and the name SChannel files the session under
  SecPkgContext_StreamSizes m_sizes = {};
  std::string m_in;  // received, not yet decrypted
  std::string m_plain;
  size_t m_plainAt = 0;
  std::vector<char> m_out;
};

}  // namespace

std::unique_ptr<CByteStream> StartTlsClient(std::unique_ptr<CByteStream> transport,
                                            const TlsOptions& options, int timeoutMs,
                                            TlsSessionInfo& info, TlsFailure& failure) {
  auto stream = std::make_unique<CSchannelStream>(std::move(transport));
  if (!stream->Start(options, timeoutMs, info, failure)) {
    failure.host = options.hostName;
    stream->Close();  // not established: no close_notify, the socket just closes
    return nullptr;
  }
  return stream;
}

}  // namespace platform
