#include "platform/tls.h"

#define SECURITY_WIN32
#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>
// SCH_CREDENTIALS and TLS_PARAMETERS, which need UNICODE_STRING.
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/deadline.h"
#include "net/tls_names.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "platform/tls_verify_win32.h"

namespace platform {
namespace {

// From wininet.h, which this file does not otherwise need.
constexpr DWORD kIgnoreUnknownCa = 0x00000100;

constexpr DWORD kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                  ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                  ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                  ISC_REQ_MANUAL_CRED_VALIDATION;
// SChannel never checks the relay here: the program does it itself, the same
// way on every system (under Wine the library's own checks accept anything).
constexpr DWORD kCredentialFlags =
    SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
constexpr DWORD kAcceptedProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
constexpr int kCloseNotifyTimeoutMs = 1000;
constexpr unsigned char kAlertRecord = 21;  // TLS record content type
constexpr size_t kReadChunk = 32 * 1024;
// Records are encrypted into one buffer of about this size and sent at once.
constexpr size_t kSendBatch = 256 * 1024;

const char kVersionReason[] =
    "the relay does not offer TLS 1.2 or later";

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                   nullptr, 0);
  std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) {
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
  }
  return wide;
}

std::string Narrow(const wchar_t* text) {
  int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr, nullptr);
  narrow.resize(static_cast<size_t>(length - 1));
  return narrow;
}

std::string Hex(unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", value);
  return text;
}

std::string HandshakeReason(SECURITY_STATUS status) {
  switch (status) {
    case SEC_E_ALGORITHM_MISMATCH:
    case SEC_E_UNSUPPORTED_FUNCTION:
      return kVersionReason;
    case SEC_E_ILLEGAL_MESSAGE:
      return "the relay broke off the TLS handshake";
    case SEC_E_INVALID_TOKEN:
      return "the relay did not answer with TLS";
    case SEC_E_MESSAGE_ALTERED:
    case SEC_E_DECRYPT_FAILURE:
      return "the TLS handshake was corrupted";
    default:
      return "the TLS handshake failed (error " + Hex(static_cast<unsigned long>(status)) + ")";
  }
}

// Owns one certificate store, chain or context for the length of a check.
struct StoreCloser {
  void operator()(void* store) const { CertCloseStore(static_cast<HCERTSTORE>(store), 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;
struct ChainFreer {
  void operator()(const CERT_CHAIN_CONTEXT* chain) const { CertFreeCertificateChain(chain); }
};
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFreer>;
struct CertFreer {
  void operator()(const CERT_CONTEXT* cert) const { CertFreeCertificateContext(cert); }
};
using Cert = std::unique_ptr<const CERT_CONTEXT, CertFreer>;

Store NewMemoryStore() {
  return Store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
}

// Every certificate of a PEM file into a new in-memory store.
Store LoadPemCertificates(const std::string& path, std::string& reason) {
  std::FILE* file = OpenForReading(path);
  if (file == nullptr) {
    reason = "cannot read the CA file " + path;
    return nullptr;
  }
  std::string text;
  char block[4096];
  for (size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;) text.append(block, n);
  std::fclose(file);
  Store store = NewMemoryStore();
  if (!store) {
    reason = "cannot create a certificate store";
    return nullptr;
  }
  static const std::string kBegin = "-----BEGIN CERTIFICATE-----";
  static const std::string kEnd = "-----END CERTIFICATE-----";
  int count = 0;
  for (size_t begin = text.find(kBegin); begin != std::string::npos;
       begin = text.find(kBegin, begin + kBegin.size())) {
    size_t end = text.find(kEnd, begin);
    if (end == std::string::npos) break;
    std::string block = text.substr(begin, end + kEnd.size() - begin);
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
      continue;
    }
    std::vector<BYTE> der(size);
    if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                             CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr) &&
        CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), size,
                                         CERT_STORE_ADD_USE_EXISTING, nullptr)) {
      ++count;
    }
  }
  if (count == 0) {
    reason = "no certificate in the CA file " + path;
    return nullptr;
  }
  return store;
}

bool AddAll(HCERTSTORE to, HCERTSTORE from) {
  const CERT_CONTEXT* cert = nullptr;
  while ((cert = CertEnumCertificatesInStore(from, cert)) != nullptr) {
    if (!CertAddCertificateContextToStore(to, cert, CERT_STORE_ADD_USE_EXISTING, nullptr)) {
      CertFreeCertificateContext(cert);
      return false;
    }
  }
  return true;
}

bool StoreHolds(HCERTSTORE store, const CERT_CONTEXT* wanted) {
  const CERT_CONTEXT* cert = nullptr;
  while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr) {
    if (CertCompareCertificate(X509_ASN_ENCODING, cert->pCertInfo, wanted->pCertInfo)) {
      CertFreeCertificateContext(cert);
      return true;
    }
  }
  return false;
}

// The certificate's subject alternative names of one kind: DNS names, or
// IP addresses as raw bytes.
std::vector<std::string> AltNames(const CERT_CONTEXT* cert, DWORD choice) {
  std::vector<std::string> names;
  const CERT_EXTENSION* extension =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension,
                        cert->pCertInfo->rgExtension);
  if (!extension) return names;
  CERT_ALT_NAME_INFO* info = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                           extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &info,
                           &size)) {
    return names;
  }
  for (DWORD i = 0; i < info->cAltEntry; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = info->rgAltEntry[i];
    if (entry.dwAltNameChoice != choice) continue;
    if (choice == CERT_ALT_NAME_DNS_NAME) {
      names.push_back(Narrow(entry.pwszDNSName));
    } else if (choice == CERT_ALT_NAME_IP_ADDRESS) {
      names.emplace_back(reinterpret_cast<const char*>(entry.IPAddress.pbData),
                         entry.IPAddress.cbData);
    }
  }
  LocalFree(info);
  return names;
}

// The name a person recognises the certificate by.
std::string ShownName(const CERT_CONTEXT* cert) {
  std::vector<std::string> dns = AltNames(cert, CERT_ALT_NAME_DNS_NAME);
  if (!dns.empty()) return dns.front();
  std::vector<std::string> ips = AltNames(cert, CERT_ALT_NAME_IP_ADDRESS);
  if (!ips.empty()) return tls_names::CertificateAddressText(ips.front());
  // The common name is never matched, so it is not shown as the name either.
  return std::string();
}

// The host against the certificate's names: an address literal against its
// IP address entries, a host name against its DNS names; the common name is
// never matched, even when there are none.
bool NameMatches(const CERT_CONTEXT* cert, const std::string& host) {
  std::string address;
  if (tls_names::ParseAddressLiteral(host, address)) {
    for (const std::string& entry : AltNames(cert, CERT_ALT_NAME_IP_ADDRESS)) {
      if (entry == address) return true;
    }
    return false;
  }
  for (const std::string& pattern : AltNames(cert, CERT_ALT_NAME_DNS_NAME)) {
    if (tls_names::MatchesDnsName(pattern, host)) return true;
  }
  return false;
}

std::string DateReason(const CERT_CONTEXT* leaf) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return CompareFileTime(&now, &leaf->pCertInfo->NotBefore) < 0 ? "certificate is not yet valid"
                                                                : "certificate has expired";
}

// The reason for a chain that does not end at a trusted root.
std::string UntrustedReason(const CERT_SIMPLE_CHAIN* chain, DWORD status) {
  if (status & CERT_TRUST_IS_PARTIAL_CHAIN) return "unable to get local issuer certificate";
  if (chain->cElement == 1) return "self-signed certificate";
  return "self-signed certificate in certificate chain";
}

// The reason for the chain's error status, in the order a person should
// fix them; empty when status holds no error.
std::string ChainReason(const CERT_SIMPLE_CHAIN* chain, DWORD status) {
  const CERT_CONTEXT* leaf = chain->rgpElement[0]->pCertContext;
  if (status & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT)) {
    return UntrustedReason(chain, status);
  }
  // A chain that ends at a certificate not issued by itself never reached a
  // root, whatever else is said of it (Wine reports a bad signature there).
  const CERT_INFO* last = chain->rgpElement[chain->cElement - 1]->pCertContext->pCertInfo;
  if (status != 0 && !CertCompareCertificateName(X509_ASN_ENCODING, const_cast<CERT_NAME_BLOB*>(&last->Subject),
                                                 const_cast<CERT_NAME_BLOB*>(&last->Issuer))) {
    return "unable to get local issuer certificate";
  }
  if (status & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return "certificate signature failure";
  if (status & CERT_TRUST_IS_NOT_TIME_VALID) return DateReason(leaf);
  if (status & CERT_TRUST_IS_REVOKED) return "certificate revoked";
  if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return "unsupported certificate purpose";
  if (status != 0) return "certificate chain not trusted (status " + Hex(status) + ")";
  return std::string();
}

std::string PolicyReason(const CERT_SIMPLE_CHAIN* chain, DWORD error, const std::string& host) {
  const CERT_CONTEXT* leaf = chain->rgpElement[0]->pCertContext;
  switch (static_cast<HRESULT>(error)) {
    case CERT_E_CN_NO_MATCH:
      return tls_names::NameMismatchReason(ShownName(leaf), host);
    case CERT_E_EXPIRED:
      return "certificate verify failed: " + DateReason(leaf);
    case CERT_E_UNTRUSTEDROOT:
      return "certificate verify failed: " + UntrustedReason(chain, 0);
    case CERT_E_CHAINING:
      return "certificate verify failed: unable to get local issuer certificate";
    case CERT_E_WRONG_USAGE:
      return "certificate verify failed: unsupported certificate purpose";
    case CERT_E_REVOKED:
      return "certificate verify failed: certificate revoked";
    default:
      return "certificate verify failed (error " + Hex(error) + ")";
  }
}

// Checks the relay's certificate: the chain to a trusted root (the system's,
// or one of anchors), the dates and the purpose, and the name. Both the
// chain's own status and the system's SSL policy must agree, since either
// alone is lax somewhere (Wine's policy passes a chain with an unknown
// issuer, and never matches an address against an IP address entry).
bool VerifyRelay(const CERT_CONTEXT* leaf, HCERTSTORE anchors, const std::string& host,
                 std::string& reason) {
  Store extra = NewMemoryStore();
  if (!extra || (leaf->hCertStore && !AddAll(extra.get(), leaf->hCertStore)) ||
      (anchors && !AddAll(extra.get(), anchors))) {
    reason = "certificate verify failed: cannot gather the chain";
    return false;
  }
  CERT_CHAIN_PARA para = {};
  para.cbSize = sizeof para;
  LPSTR serverAuth = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = &serverAuth;
  const CERT_CHAIN_CONTEXT* built = nullptr;
  if (!CertGetCertificateChain(nullptr, leaf, nullptr, extra.get(), &para, 0, nullptr, &built)) {
    reason = "certificate verify failed: cannot build the chain";
    return false;
  }
  Chain chain(built);
  if (chain->cChain < 1 || chain->rgpChain[0]->cElement < 1) {
    reason = "certificate verify failed: empty chain";
    return false;
  }
  const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
  const CERT_CONTEXT* root = simple->rgpElement[simple->cElement - 1]->pCertContext;
  DWORD status = chain->TrustStatus.dwErrorStatus;
  if (anchors) {
    // The user's file replaces the system's roots: the chain must end at one
    // of its certificates, which the system does not know and so calls
    // untrusted; any other error still counts.
    if (!StoreHolds(anchors, root)) {
      bool known = (status & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT)) == 0;
      reason = "certificate verify failed: " +
               (known ? std::string("unable to get local issuer certificate")
                      : UntrustedReason(simple, status));
      return false;
    }
    status &= ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
  }
  std::string chainReason = ChainReason(simple, status);
  if (!chainReason.empty()) {
    reason = "certificate verify failed: " + chainReason;
    return false;
  }

  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = anchors ? kIgnoreUnknownCa : 0;
  // The name is matched below, not by the system: it cannot match an address
  // and would fall back to the common name of a certificate without DNS names.
  ssl.pwszServerName = nullptr;
  CERT_CHAIN_POLICY_PARA policy = {};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS result = {};
  result.cbSize = sizeof result;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &result)) {
    reason = "certificate verify failed: cannot check the chain";
    return false;
  }
  if (result.dwError != 0) {
    reason = PolicyReason(simple, result.dwError, host);
    return false;
  }
  if (!NameMatches(leaf, host)) {
    reason = tls_names::NameMismatchReason(ShownName(leaf), host);
    return false;
  }
  return true;
}

std::string ProtocolName(DWORD protocol) {
  if (protocol & SP_PROT_TLS1_3_CLIENT) return "TLS 1.3";
  if (protocol & SP_PROT_TLS1_2_CLIENT) return "TLS 1.2";
  if (protocol & SP_PROT_TLS1_1_CLIENT) return "TLS 1.1";
  if (protocol & SP_PROT_TLS1_0_CLIENT) return "TLS 1.0";
  return "protocol " + Hex(protocol);
}

// The cipher suite's standard name. Wine names the hash of an AEAD suite
// "<unknown>": that hash is SHA-384 for AES-256-GCM, SHA-256 for the others.
std::string SuiteName(const std::string& name) {
  const size_t unknown = name.find("_<unknown>");
  if (unknown == std::string::npos) return name.empty() ? "unknown cipher" : name;
  const std::string base = name.substr(0, unknown);
  auto endsWith = [&base](const std::string& tail) {
    return base.size() >= tail.size() &&
           base.compare(base.size() - tail.size(), tail.size(), tail) == 0;
  };
  if (endsWith("_AES_256_GCM")) return base + "_SHA384";
  if (endsWith("_AES_128_GCM") || endsWith("_CHACHA20_POLY1305")) return base + "_SHA256";
  return base;
}

// What the relay's next record says before SChannel sees it, since Wine's
// waits for more after a plain-text answer or a fatal alert instead of
// failing. Empty while the bytes may be a TLS handshake going on.
std::string ReasonBeforeHandshakeStep(const std::string& in) {
  if (in.empty()) return std::string();
  const auto byte = [&in](size_t i) { return static_cast<unsigned char>(in[i]); };
  if (byte(0) < 20 || byte(0) > 23 || (in.size() >= 2 && byte(1) != 3)) {
    return "the relay did not answer with TLS";
  }
  const bool fatalAlert = byte(0) == kAlertRecord && in.size() >= 7 && byte(3) == 0 &&
                          byte(4) == 2 && byte(5) == 2;
  if (!fatalAlert) return std::string();
  if (byte(6) == 70) return kVersionReason;  // protocol_version
  return "the relay broke off the TLS handshake (alert " + std::to_string(byte(6)) + ")";
}

bool AcquireCredentials(CredHandle& credentials, SECURITY_STATUS& status) {
  TimeStamp expiry;
  // Systems that know TLS 1.3 take SCH_CREDENTIALS, where the versions
  // below TLS 1.2 are switched off; older ones take SCHANNEL_CRED, where
  // TLS 1.2 is switched on alone.
  TLS_PARAMETERS parameters = {};
  parameters.grbitDisabledProtocols = static_cast<DWORD>(~kAcceptedProtocols);
  SCH_CREDENTIALS modern = {};
  modern.dwVersion = SCH_CREDENTIALS_VERSION;
  modern.dwFlags = kCredentialFlags;
  modern.cTlsParameters = 1;
  modern.pTlsParameters = &parameters;
  status = AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W),
                                     SECPKG_CRED_OUTBOUND, nullptr, &modern, nullptr, nullptr,
                                     &credentials, &expiry);
  if (status == SEC_E_OK) return true;
  SCHANNEL_CRED legacy = {};
  legacy.dwVersion = SCHANNEL_CRED_VERSION;
  legacy.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
  legacy.dwFlags = kCredentialFlags;
  status = AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W),
                                     SECPKG_CRED_OUTBOUND, nullptr, &legacy, nullptr, nullptr,
                                     &credentials, &expiry);
  return status == SEC_E_OK;
}

class CSchannelStream : public CByteStream {
 public:
  explicit CSchannelStream(std::unique_ptr<CByteStream> transport)
      : m_transport(std::move(transport)) {}
  ~CSchannelStream() override { Close(); }

  bool Start(const TlsOptions& options, int timeoutMs, TlsSessionInfo& info,
             std::string& reason) {
    Store anchors;
    if (options.verify && !options.caFile.empty()) {
      anchors = LoadPemCertificates(options.caFile, reason);
      if (!anchors) return false;
    }
    SECURITY_STATUS status;
    if (!AcquireCredentials(m_credentials, status)) {
      reason = "cannot start TLS (error " + Hex(static_cast<unsigned long>(status)) + ")";
      return false;
    }
    m_haveCredentials = true;
    std::string address;
    // The name goes out as SNI; an address literal is not a name.
    if (!tls_names::ParseAddressLiteral(options.hostName, address)) {
      m_target = Widen(options.hostName);
    }
    const CDeadline deadline = CDeadline::Start(timeoutMs);
    if (!Negotiate(deadline, reason)) return false;

    SecPkgContext_ConnectionInfo connection = {};
    if (QueryContextAttributesW(&m_context, SECPKG_ATTR_CONNECTION_INFO, &connection) !=
            SEC_E_OK ||
        (connection.dwProtocol & kAcceptedProtocols) == 0) {
      reason = kVersionReason;
      return false;
    }
    if (QueryContextAttributesW(&m_context, SECPKG_ATTR_STREAM_SIZES, &m_sizes) != SEC_E_OK ||
        m_sizes.cbMaximumMessage == 0) {
      reason = "cannot read the TLS record sizes";
      return false;
    }
    if (options.verify) {
      const CERT_CONTEXT* remote = nullptr;
      if (QueryContextAttributesW(&m_context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) !=
              SEC_E_OK ||
          !remote) {
        reason = "the relay sent no certificate";
        return false;
      }
      Cert leaf(remote);
      if (!VerifyRelay(leaf.get(), anchors.get(), options.hostName, reason)) return false;
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
  bool Negotiate(const CDeadline& deadline, std::string& reason) {
    bool sent = true;
    bool needInput = m_in.empty();
    if (!m_haveContext) {
      SECURITY_STATUS status = Step(nullptr, deadline, sent);
      if (status != SEC_I_CONTINUE_NEEDED) {
        reason = HandshakeReason(status);
        return false;
      }
      needInput = true;
    }
    for (;;) {
      if (!sent) {
        reason = "the connection failed during the TLS handshake";
        return false;
      }
      if (needInput) {
        // A peer that keeps sending cannot stretch the handshake either.
        long got = deadline.Expired() ? kReceiveTimeout : Fill(deadline);
        if (got == 0) {
          reason = "the relay closed the connection during the TLS handshake";
          return false;
        }
        if (got == kReceiveTimeout) {
          reason = "the relay did not complete the TLS handshake in time";
          return false;
        }
        if (got < 0) {
          reason = "the connection failed during the TLS handshake";
          return false;
        }
      }
      reason = ReasonBeforeHandshakeStep(m_in);
      if (!reason.empty()) return false;
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
          reason = "the relay did not complete the TLS handshake in time";
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
        reason = "the connection failed during the TLS handshake";
        return false;
      }
      if (status != SEC_I_CONTINUE_NEEDED) {
        reason = HandshakeReason(status);
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
      std::string ignored;
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
    return SuiteName(Narrow(cipher.szCipherSuite));
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
                                            TlsSessionInfo& info, std::string& reason) {
  auto stream = std::make_unique<CSchannelStream>(std::move(transport));
  if (!stream->Start(options, timeoutMs, info, reason)) {
    stream->Close();  // not established: no close_notify, the socket just closes
    return nullptr;
  }
  return stream;
}

std::string TlsLibraryVersion() {
  std::string version = "Schannel";
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(L"schannel.dll", &ignored);
  if (size == 0) return version;
  std::vector<char> block(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (GetFileVersionInfoW(L"schannel.dll", 0, size, block.data()) &&
      VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed &&
      length >= sizeof *fixed) {
    version += " " + std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
               std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
               std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
               std::to_string(LOWORD(fixed->dwFileVersionLS));
  }
  return version;
}

}  // namespace platform

namespace platform {

bool VerifyServerCertificate(const CERT_CONTEXT* leaf, const std::string& caFile,
                             const std::string& host, std::string& reason) {
  Store anchors;
  if (!caFile.empty()) {
    anchors = LoadPemCertificates(caFile, reason);
    if (!anchors) return false;
  }
  return VerifyRelay(leaf, anchors.get(), host, reason);
}

}  // namespace platform
