// The OpenSSL client session against an OpenSSL server on a loopback
// socket, with a certificate made for each test.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "platform/socket.h"
#include "net/tls_failure.h"
#include "platform/tls.h"
#include "support/fake_resolver.h"
#include "support/lines.h"
#include "support/memory_stream.h"

namespace {

// A self-signed certificate for the given SAN ("DNS:localhost,IP:127.0.0.1").
struct Identity {
  EVP_PKEY* key = nullptr;
  X509* certificate = nullptr;

  explicit Identity(const char* names) {
    key = EVP_EC_gen("P-256");
    certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
    X509_set_pubkey(certificate, key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("velsend test"), -1, -1, 0);
    X509_set_issuer_name(certificate, name);
    X509V3_CTX context;
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, names);
    X509_add_ext(certificate, san, -1);
    X509_EXTENSION_free(san);
    X509_sign(certificate, key, EVP_sha256());
  }
  ~Identity() {
    X509_free(certificate);
    EVP_PKEY_free(key);
  }
  std::string WritePem() const {
    char path[] = "/tmp/velsend-tls-test-XXXXXX";
    int fd = mkstemp(path);
    FILE* file = fdopen(fd, "w");
    PEM_write_X509(file, certificate);
    std::fclose(file);
    return path;
  }
};

// A loopback listener whose one connection is handed to serve on a thread.
class Server {
 public:
  explicit Server(std::function<void(int)> serve) {
    // The client may close before the server's last write.
    signal(SIGPIPE, SIG_IGN);
    m_listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(m_listener, 1);
    socklen_t length = sizeof address;
    getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = address.sin_port;
    m_thread = std::thread([this, serve] {
      int fd = accept(m_listener, nullptr, nullptr);
      if (fd >= 0) serve(fd);
      if (fd >= 0) close(fd);
    });
  }
  ~Server() {
    m_thread.join();
    close(m_listener);
  }
  std::unique_ptr<CByteStream> Connect() {
    auto socket = platform::CSocketStream::Create(platform::SAddress::kIPv4);
    platform::ConnectError error;
    std::string text;
    EXPECT_TRUE(socket->Connect(AddressOf("127.0.0.1"), m_port, 5000, error, text));
    return socket;
  }

 private:
  int m_listener;
  uint16_t m_port = 0;
  std::thread m_thread;
};

// Runs the server side of a handshake on fd; nullptr when it failed.
SSL* Accept(SSL_CTX* context, int fd) {
  SSL* ssl = SSL_new(context);
  SSL_set_fd(ssl, fd);
  if (SSL_accept(ssl) == 1) return ssl;
  SSL_free(ssl);
  return nullptr;
}

SSL_CTX* ServerContext(const Identity& identity) {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  SSL_CTX_use_certificate(context, identity.certificate);
  SSL_CTX_use_PrivateKey(context, identity.key);
  return context;
}

TEST(TlsOpenSsl, CarriesLargeBlocksBothWaysAndEndsWithCloseNotify) {
  Identity identity("DNS:localhost,IP:127.0.0.1");
  SSL_CTX* context = ServerContext(identity);
  const std::string upload = Pattern(3 * 1024 * 1024 + 17);
  const std::string download = Pattern(1024 * 1024 + 5);
  std::string received;
  bool sawCloseNotify = false;
  {
    Server server([&](int fd) {
      SSL* ssl = Accept(context, fd);
      if (!ssl) return;
      char buffer[65536];
      while (received.size() < upload.size()) {
        int n = SSL_read(ssl, buffer, sizeof buffer);
        if (n <= 0) break;
        received.append(buffer, static_cast<size_t>(n));
      }
      SSL_write(ssl, download.data(), static_cast<int>(download.size()));
      int n = SSL_read(ssl, buffer, sizeof buffer);
      sawCloseNotify = n == 0 && SSL_get_error(ssl, n) == SSL_ERROR_ZERO_RETURN;
      SSL_free(ssl);
    });
    const std::string ca = identity.WritePem();
    platform::TlsSessionInfo info;
    platform::TlsFailure failure;
    auto stream = platform::StartTlsClient(server.Connect(), {"localhost", ca, true}, 5000, info,
                                           failure);
    std::remove(ca.c_str());
    ASSERT_TRUE(stream) << TlsFailureText(failure);
    EXPECT_EQ(info.protocol, "TLS 1.3");
    EXPECT_FALSE(info.cipher.empty());
    // In uneven pieces, as the gathered blocks of a message arrive.
    for (size_t at = 0; at < upload.size(); at += 256 * 1024 + 3) {
      ASSERT_TRUE(stream->SendAll(upload.data() + at, std::min<size_t>(256 * 1024 + 3, upload.size() - at), 5000));
    }
    std::string back;
    char buffer[512];
    while (back.size() < download.size()) {
      long n = stream->Receive(buffer, sizeof buffer, 5000);
      ASSERT_GT(n, 0);
      back.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_TRUE(back == download);
    EXPECT_EQ(stream->Close(), 0);
  }
  SSL_CTX_free(context);
  EXPECT_EQ(received.size(), upload.size());
  EXPECT_TRUE(received == upload);
  EXPECT_TRUE(sawCloseNotify);
}

TEST(TlsOpenSsl, VerificationOutcomes) {
  struct Case {
    const char* what;
    const char* names;  // of the server's self-signed certificate
    const char* host;
    bool trustIt;       // --cacert names the server's certificate
    bool verify;
    const char* reason; // empty: the handshake succeeds
  } cases[] = {
      {"trusted, name", "DNS:localhost", "localhost", true, true, ""},
      {"trusted, address literal", "IP:127.0.0.1", "127.0.0.1", true, true, ""},
      {"not trusted", "DNS:localhost", "localhost", false, true,
       "certificate verify failed: self-signed certificate"},
      {"another name", "DNS:mail.example.net", "localhost", true, true,
       "certificate is for mail.example.net, not localhost"},
      {"a name is not an address", "DNS:127.0.0.1", "127.0.0.1", true, true,
       "certificate is for 127.0.0.1, not 127.0.0.1"},
      {"wildcard for a whole label only", "DNS:x*.example.org", "xa.example.org", true, true,
       "certificate is for x*.example.org, not xa.example.org"},
      {"not verified", "DNS:mail.example.net", "localhost", false, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Identity identity(c.names);
    SSL_CTX* context = ServerContext(identity);
    platform::TlsFailure failure;
    bool ok = false;
    {
      Server server([&](int fd) {
        if (SSL* ssl = Accept(context, fd)) {
          SSL_shutdown(ssl);
          SSL_free(ssl);
        }
      });
      // Not trusted: the store holds another certificate, whatever the
      // system trusts.
      const std::string store =
          c.trustIt ? identity.WritePem() : Identity("DNS:localhost").WritePem();
      platform::TlsSessionInfo info;
      auto stream = platform::StartTlsClient(server.Connect(), {c.host, store, c.verify}, 5000,
                                             info, failure);
      std::remove(store.c_str());
      ok = stream != nullptr;
    }
    SSL_CTX_free(context);
    EXPECT_EQ(ok, *c.reason == '\0');
    EXPECT_EQ(ok, failure.kind == platform::TlsFailureKind::kNone);
    EXPECT_EQ(ok ? "" : TlsFailureText(failure), c.reason);
  }
}

TEST(TlsOpenSsl, SilenceAndClosingDuringTheHandshake) {
  struct Case {
    const char* what;
    int holdMs;  // the server reads the ClientHello, then waits this long and closes
    const char* reason;
  } cases[] = {
      {"silence", 3000, "the relay did not complete the TLS handshake in time"},
      {"closed", 0, "the relay closed the connection during the TLS handshake"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::TlsFailure failure;
    auto start = std::chrono::steady_clock::now();
    {
      Server server([&](int fd) {
        char buffer[4096];
        (void)!read(fd, buffer, sizeof buffer);
        std::this_thread::sleep_for(std::chrono::milliseconds(c.holdMs));
      });
      platform::TlsSessionInfo info;
      auto stream = platform::StartTlsClient(server.Connect(), {"localhost", "", true}, 300,
                                             info, failure);
      EXPECT_FALSE(stream);
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    }
    EXPECT_EQ(TlsFailureText(failure), c.reason);
  }
}

// A relay that keeps sending key updates and never a byte of application
// data: every receive, also the zero-time poll for waiting bytes, ends at its
// deadline while the records still arrive.
TEST(TlsOpenSsl, RecordsWithoutDataCannotHoldAReceivePastItsDeadline) {
  Identity identity("DNS:localhost,IP:127.0.0.1");
  SSL_CTX* context = ServerContext(identity);
  std::atomic<bool> stop{false};
  std::atomic<bool> ready{false};
  {
    Server server([&](int fd) {
      SSL* ssl = Accept(context, fd);
      if (!ssl) return;
      // The records are made ahead and written at once, so that more are
      // always waiting than the client has taken.
      BIO* out = BIO_new(BIO_s_mem());
      SSL_set0_wbio(ssl, out);
      for (int i = 0; i < 100000; ++i) {
        if (SSL_key_update(ssl, SSL_KEY_UPDATE_NOT_REQUESTED) != 1 ||
            SSL_do_handshake(ssl) != 1) {
          break;
        }
      }
      char* data = nullptr;
      const long size = BIO_get_mem_data(out, &data);
      ready = true;
      for (long at = 0; at < size && !stop;) {
        const ssize_t n = write(fd, data + at, static_cast<size_t>(std::min(size - at, 65536L)));
        if (n <= 0) break;
        at += n;
      }
      SSL_free(ssl);
    });
    const std::string ca = identity.WritePem();
    platform::TlsSessionInfo info;
    platform::TlsFailure failure;
    auto stream = platform::StartTlsClient(server.Connect(), {"localhost", ca, true}, 5000, info,
                                           failure);
    std::remove(ca.c_str());
    ASSERT_TRUE(stream) << TlsFailureText(failure);
    while (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    char buffer[512];
    for (int timeoutMs : {300, 0}) {
      SCOPED_TRACE(timeoutMs);
      const auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(stream->Receive(buffer, sizeof buffer, timeoutMs), CByteStream::kReceiveTimeout);
      EXPECT_LT(std::chrono::steady_clock::now() - start,
                std::chrono::milliseconds(timeoutMs + 1000));
    }
    stop = true;
    stream->Close();
  }
  SSL_CTX_free(context);
}

TEST(TlsOpenSsl, CaFileProblemsStopBeforeAnyByte) {
  char empty[] = "/tmp/velsend-tls-test-XXXXXX";
  const int fd = mkstemp(empty);
  ASSERT_GE(fd, 0);
  (void)!write(fd, "no certificate here\n", 20);
  close(fd);
  const struct {
    std::string file;
    platform::TlsFailureKind kind;
  } cases[] = {
      {"/nonexistent/velsend/ca.pem", platform::TlsFailureKind::kCaFileUnreadable},
      {empty, platform::TlsFailureKind::kCaFileEmpty},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    auto peer = MakePeer();
    platform::TlsSessionInfo info;
    platform::TlsFailure failure;
    auto stream = platform::StartTlsClient(std::make_unique<CMemoryStream>(peer),
                                           {"localhost", c.file, true}, 1000, info, failure);
    EXPECT_FALSE(stream);
    EXPECT_EQ(failure.kind, c.kind);
    EXPECT_EQ(failure.detail, c.file);
    EXPECT_TRUE(peer->sent.empty());
    EXPECT_TRUE(peer->closed);
  }
  std::remove(empty);
}

}  // namespace
