// The TLS client on OpenSSL. The session runs over memory BIOs and this file
// moves the bytes between them and the transport stream itself, so that
// every wait is bounded by the transport's own timeouts and the transport
// can be any CByteStream.
#include "platform/tls.h"

#include "base/deadline.h"
#include "net/tls_names.h"
#include "platform/file.h"

#include <openssl/err.h>
#include <openssl/opensslv.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace platform {

namespace {

struct SslContextFree {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }  // frees its BIOs too
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using SslContextPtr = std::unique_ptr<SSL_CTX, SslContextFree>;
using SslPtr = std::unique_ptr<SSL, SslFree>;
using BioPtr = std::unique_ptr<BIO, BioFree>;

// Writes of plain text go to the session in slices of this size, each sent
// on before the next, so that a large block never sits encrypted in memory.
constexpr size_t kWriteSlice = 64 * 1024;

// The certificate being verified, kept by the verify callback: after a
// failed handshake OpenSSL no longer hands out the peer's certificate, and
// the names it holds are the most useful part of the reason.
int g_leafIndex = -1;

int RememberLeaf(int preverified, X509_STORE_CTX* store) {
  SSL* ssl = static_cast<SSL*>(
      X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  X509* leaf = X509_STORE_CTX_get0_cert(store);
  if (ssl && leaf && SSL_get_ex_data(ssl, g_leafIndex) == nullptr) {
    X509_up_ref(leaf);
    SSL_set_ex_data(ssl, g_leafIndex, leaf);
  }
  return preverified;
}

void FreeLeaf(void*, void* data, CRYPTO_EX_DATA*, int, long, void*) {
  X509_free(static_cast<X509*>(data));
}

// "192.0.2.7" or "2001:db8:0:0:0:0:0:1" (not shortened).
std::string AddressText(const ASN1_OCTET_STRING* address) {
  const int length = std::max(ASN1_STRING_length(address), 0);
  return tls_names::CertificateAddressText(std::string_view(
      reinterpret_cast<const char*>(ASN1_STRING_get0_data(address)), static_cast<size_t>(length)));
}

// "mail.example.net, 192.0.2.7" from the certificate's DNS and IP entries.
std::string CertificateNames(X509* certificate) {
  std::string names;
  auto add = [&names](const std::string& name) {
    if (!names.empty()) names += ", ";
    names += name;
  };
  auto* entries = static_cast<GENERAL_NAMES*>(
      X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
  for (int i = 0; entries && i < sk_GENERAL_NAME_num(entries); ++i) {
    const GENERAL_NAME* entry = sk_GENERAL_NAME_value(entries, i);
    if (entry->type == GEN_DNS) {
      const ASN1_STRING* text = entry->d.dNSName;
      add(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                      static_cast<size_t>(ASN1_STRING_length(text))));
    } else if (entry->type == GEN_IPADD) {
      add(AddressText(entry->d.iPAddress));
    }
  }
  GENERAL_NAMES_free(entries);
  // The common name is never matched, so it is not shown as the name either.
  return names;
}

std::string VersionName(const SSL* ssl) {
  switch (SSL_version(ssl)) {
    case TLS1_3_VERSION: return "TLS 1.3";
    case TLS1_2_VERSION: return "TLS 1.2";
    default: return SSL_get_version(ssl);
  }
}

class COpenSslStream : public CByteStream {
 public:
  explicit COpenSslStream(std::unique_ptr<CByteStream> transport)
      : m_transport(std::move(transport)) {}

  ~COpenSslStream() override {
    Close();
  }

  // Sets up the session and runs the handshake; false with failure set.
  bool Handshake(const TlsOptions& options, int timeoutMs, TlsFailure& failure) {
    if (g_leafIndex < 0) g_leafIndex = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, FreeLeaf);
    m_context.reset(SSL_CTX_new(TLS_client_method()));
    if (!m_context || !SSL_CTX_set_min_proto_version(m_context.get(), TLS1_2_VERSION)) {
      failure.kind = TlsFailureKind::kSetup;
      return false;
    }
    if (options.caFile.empty()) {
      SSL_CTX_set_default_verify_paths(m_context.get());
    } else if (!LoadCaFile(options.caFile, failure)) {
      return false;
    }
    m_ssl.reset(SSL_new(m_context.get()));
    BioPtr in(BIO_new(BIO_s_mem()));
    BioPtr out(BIO_new(BIO_s_mem()));
    if (!m_ssl || !in || !out) {
      failure.kind = TlsFailureKind::kSetup;
      return false;
    }
    m_in = in.get();
    m_out = out.get();
    SSL_set_bio(m_ssl.get(), in.release(), out.release());  // the session owns them now

    const std::string& host = options.hostName;
    X509_VERIFY_PARAM* param = SSL_get0_param(m_ssl.get());
    // An address literal is checked against the IP entries and sends no SNI.
    const bool literal = X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1;
    if (!literal) {
      // Only the subjectAltName's DNS names count: a certificate without
      // them is for no name, whatever its common name says.
      X509_VERIFY_PARAM_set_hostflags(
          param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS | X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
      if (X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) != 1 ||
          SSL_set_tlsext_host_name(m_ssl.get(), host.c_str()) != 1) {
        failure.kind = TlsFailureKind::kUnusableName;
        return false;
      }
    }
    SSL_set_verify(m_ssl.get(), options.verify ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, RememberLeaf);

    const CDeadline deadline = CDeadline::Start(timeoutMs);
    for (;;) {
      ERR_clear_error();
      int result = SSL_connect(m_ssl.get());
      // Whatever the outcome, what the session wrote (the ClientHello, the
      // Finished message, or an alert) goes to the peer.
      if (!Flush(deadline.RemainingMs())) {
        failure.kind = TlsFailureKind::kConnectionLost;
        return false;
      }
      if (result == 1) return true;
      int error = SSL_get_error(m_ssl.get(), result);
      if (error != SSL_ERROR_WANT_READ) {
        failure = HandshakeFailure();
        return false;
      }
      long received = deadline.Expired() ? kReceiveTimeout : Pull(deadline.RemainingMs());
      if (received == kReceiveTimeout) {
        failure.kind = TlsFailureKind::kTimedOut;
        return false;
      }
      if (received <= 0) {
        failure.kind = TlsFailureKind::kClosed;
        return false;
      }
    }
  }

  void Describe(TlsSessionInfo& info) const {
    info.protocol = VersionName(m_ssl.get());
    info.cipher = SSL_get_cipher_name(m_ssl.get());
  }

  bool SendAll(const char* data, size_t size, int timeoutMs) override {
    if (!m_ssl || m_failed) return false;
    while (size > 0) {
      const int slice = static_cast<int>(std::min(size, kWriteSlice));
      ERR_clear_error();
      // Memory BIOs never push back, so a write takes the whole slice.
      int written = SSL_write(m_ssl.get(), data, slice);
      if (written <= 0) {
        m_failed = true;
        return false;
      }
      if (!Flush(timeoutMs)) return false;
      data += written;
      size -= static_cast<size_t>(written);
    }
    return true;
  }

  long Receive(char* buffer, size_t size, int timeoutMs) override {
    if (!m_ssl || m_failed) return kReceiveError;
    const CDeadline deadline = CDeadline::Start(timeoutMs);
    const int want = static_cast<int>(std::min<size_t>(size, INT32_MAX));
    bool pulled = false;
    for (;;) {
      ERR_clear_error();
      int read = SSL_read(m_ssl.get(), buffer, want);
      if (read > 0) return read;
      int error = SSL_get_error(m_ssl.get(), read);
      if (error == SSL_ERROR_ZERO_RETURN) return 0;  // close_notify
      if (error != SSL_ERROR_WANT_READ) {
        m_failed = true;
        return kReceiveError;
      }
      // Post-handshake messages (a key update) may need an answer.
      if (!Flush(deadline.RemainingMs())) return kReceiveError;
      // Records that carry no application data (key updates, tickets) must
      // not hold the wait past its deadline: after the first pull, an
      // expired deadline ends it whatever is still arriving.
      if (pulled && deadline.Expired()) return kReceiveTimeout;
      // The peer closing without close_notify ends input like a close: the
      // line reader already knows whether a reply was complete.
      long received = Pull(deadline.RemainingMs());
      if (received <= 0) return received;
      pulled = true;
    }
  }

  int Close() override {
    if (!m_transport) return 0;
    if (m_ssl && !m_failed && SSL_is_init_finished(m_ssl.get())) {
      ERR_clear_error();
      SSL_shutdown(m_ssl.get());  // queues close_notify; the peer's answer is not awaited
      Flush(kCloseNotifyMs);
    }
    int result = m_transport->Close();
    m_transport.reset();
    return result;
  }

 private:
  // close_notify is a courtesy: a peer that has stopped reading must not
  // hold up the end of the run.
  static constexpr int kCloseNotifyMs = 1000;

  // Sends what the session has written to the transport.
  bool Flush(int timeoutMs) {
    char* data = nullptr;
    long pending = BIO_get_mem_data(m_out, &data);
    if (pending <= 0) return true;
    bool sent = m_transport->SendAll(data, static_cast<size_t>(pending), timeoutMs);
    (void)BIO_reset(m_out);
    if (!sent) m_failed = true;
    return sent;
  }

  // Feeds the next bytes from the transport to the session.
  long Pull(int timeoutMs) {
    char chunk[16 * 1024];
    long received = m_transport->Receive(chunk, sizeof chunk, timeoutMs);
    if (received > 0) BIO_write(m_in, chunk, static_cast<int>(received));
    return received;
  }

  TlsFailure HandshakeFailure() const {
    long verify = SSL_get_verify_result(m_ssl.get());
    if (verify == X509_V_ERR_HOSTNAME_MISMATCH || verify == X509_V_ERR_IP_ADDRESS_MISMATCH) {
      auto* leaf = static_cast<X509*>(SSL_get_ex_data(m_ssl.get(), g_leafIndex));
      return {TlsFailureKind::kNameMismatch, leaf ? CertificateNames(leaf) : std::string()};
    }
    if (verify != X509_V_OK) {
      return {TlsFailureKind::kCertificate, X509_verify_cert_error_string(verify)};
    }
    unsigned long error = ERR_peek_last_error();
    int code = ERR_GET_REASON(error);
    if (code == SSL_R_UNSUPPORTED_PROTOCOL || code == SSL_R_TLSV1_ALERT_PROTOCOL_VERSION ||
        code == SSL_R_NO_PROTOCOLS_AVAILABLE) {
      return {TlsFailureKind::kOldProtocol};
    }
    if (code == SSL_R_WRONG_VERSION_NUMBER || code == SSL_R_PACKET_LENGTH_TOO_LONG) {
      return {TlsFailureKind::kNotTls};
    }
    const char* text = error ? ERR_reason_error_string(error) : nullptr;
    return {TlsFailureKind::kHandshake, text ? text : ""};
  }

  // The user's trusted roots in place of the system's. A file that cannot
  // be opened and one without a certificate call for different fixes.
  bool LoadCaFile(const std::string& path, TlsFailure& failure) {
    if (SSL_CTX_load_verify_locations(m_context.get(), path.c_str(), nullptr) == 1) return true;
    std::FILE* file = OpenForReading(path);
    failure.kind = file ? TlsFailureKind::kCaFileEmpty : TlsFailureKind::kCaFileUnreadable;
    failure.detail = path;
    if (file) std::fclose(file);
    return false;
  }

  std::unique_ptr<CByteStream> m_transport;
  SslContextPtr m_context;
  SslPtr m_ssl;  // freed before m_context, which it was made from
  BIO* m_in = nullptr;   // owned by m_ssl
  BIO* m_out = nullptr;  // owned by m_ssl
  bool m_failed = false;  // a fatal error or a lost write: no close_notify
};

}  // namespace

std::unique_ptr<CByteStream> StartTlsClient(std::unique_ptr<CByteStream> transport,
                                            const TlsOptions& options, int timeoutMs,
                                            TlsSessionInfo& info, TlsFailure& failure) {
  auto stream = std::make_unique<COpenSslStream>(std::move(transport));
  if (!stream->Handshake(options, timeoutMs, failure)) {
    failure.host = options.hostName;
    return nullptr;  // destroyed: closed
  }
  stream->Describe(info);
  return stream;
}

std::string TlsLibraryVersion() {
  // "OpenSSL 3.0.11 19 Sep 2023": the name and the version, without the date.
  std::string text = OpenSSL_version(OPENSSL_VERSION);
  size_t blank = text.find(' ');
  if (blank != std::string::npos) blank = text.find(' ', blank + 1);
  return blank == std::string::npos ? text : text.substr(0, blank);
}

}  // namespace platform
