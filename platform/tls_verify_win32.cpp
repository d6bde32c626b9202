// Checks a server's certificate the same way on every Windows, Wine
// included: the chain, the dates, the purpose, and the name matched here.
#include "platform/tls_verify_win32.h"

#include <string>
#include <vector>

#include "net/tls_names.h"
#include "platform/file.h"
#include "platform/wide_text_win32.h"

namespace platform {
namespace {

// From wininet.h, which this file does not otherwise need.
constexpr DWORD kIgnoreUnknownCa = 0x00000100;

struct ChainFreer {
  void operator()(const CERT_CHAIN_CONTEXT* chain) const { CertFreeCertificateChain(chain); }
};
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFreer>;

CertStore NewMemoryStore() {
  return CertStore(
      CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
}

TlsFailure Refused(std::string detail) {
  return {TlsFailureKind::kCertificate, std::move(detail)};
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
      names.push_back(Utf8FromWide(entry.pwszDNSName));
    } else if (choice == CERT_ALT_NAME_IP_ADDRESS) {
      names.emplace_back(reinterpret_cast<const char*>(entry.IPAddress.pbData),
                         entry.IPAddress.cbData);
    }
  }
  LocalFree(info);
  return names;
}

// "mail.example.net, 192.0.2.7": the DNS names, then the addresses. The
// common name is never matched, so it is not shown as the name either.
std::string CertificateNames(const CERT_CONTEXT* cert) {
  std::string names;
  auto add = [&names](const std::string& name) {
    if (!names.empty()) names += ", ";
    names += name;
  };
  for (const std::string& name : AltNames(cert, CERT_ALT_NAME_DNS_NAME)) add(name);
  for (const std::string& bytes : AltNames(cert, CERT_ALT_NAME_IP_ADDRESS)) {
    add(tls_names::CertificateAddressText(bytes));
  }
  return names;
}

TlsFailure NameMismatch(const CERT_CONTEXT* leaf) {
  return {TlsFailureKind::kNameMismatch, CertificateNames(leaf)};
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
  if (status != 0) return "certificate chain not trusted (status " + HexCode(status) + ")";
  return std::string();
}

TlsFailure PolicyFailure(const CERT_SIMPLE_CHAIN* chain, DWORD error) {
  const CERT_CONTEXT* leaf = chain->rgpElement[0]->pCertContext;
  switch (static_cast<HRESULT>(error)) {
    case CERT_E_CN_NO_MATCH:
      return NameMismatch(leaf);
    case CERT_E_EXPIRED:
      return Refused(DateReason(leaf));
    case CERT_E_UNTRUSTEDROOT:
      return Refused(UntrustedReason(chain, 0));
    case CERT_E_CHAINING:
      return Refused("unable to get local issuer certificate");
    case CERT_E_WRONG_USAGE:
      return Refused("unsupported certificate purpose");
    case CERT_E_REVOKED:
      return Refused("certificate revoked");
    default:
      return Refused("error " + HexCode(error));
  }
}

}  // namespace

CertStore LoadPemCertificates(const std::string& path, TlsFailure& failure) {
  failure.detail = path;
  std::FILE* file = OpenForReading(path);
  if (file == nullptr) {
    failure.kind = TlsFailureKind::kCaFileUnreadable;
    return nullptr;
  }
  std::string text;
  char block[4096];
  for (size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;) text.append(block, n);
  std::fclose(file);
  CertStore store = NewMemoryStore();
  if (!store) {
    failure.kind = TlsFailureKind::kSetup;
    failure.detail = "cannot create a certificate store";
    return nullptr;
  }
  static const std::string kBegin = "-----BEGIN CERTIFICATE-----";
  static const std::string kEnd = "-----END CERTIFICATE-----";
  int count = 0;
  for (size_t begin = text.find(kBegin); begin != std::string::npos;
       begin = text.find(kBegin, begin + kBegin.size())) {
    size_t end = text.find(kEnd, begin);
    if (end == std::string::npos) break;
    const std::string pem = text.substr(begin, end + kEnd.size() - begin);
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
      continue;
    }
    std::vector<BYTE> der(size);
    if (CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                             CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr) &&
        CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), size,
                                         CERT_STORE_ADD_USE_EXISTING, nullptr)) {
      ++count;
    }
  }
  if (count == 0) {
    failure.kind = TlsFailureKind::kCaFileEmpty;
    return nullptr;
  }
  failure.detail.clear();
  return store;
}

// Both the chain's own status and the system's SSL policy must agree, since
// either alone is lax somewhere (Wine's policy passes a chain with an unknown
// issuer, and never matches an address against an IP address entry).
bool VerifyRelayCertificate(const CERT_CONTEXT* leaf, HCERTSTORE anchors, const std::string& host,
                            TlsFailure& failure) {
  CertStore extra = NewMemoryStore();
  if (!extra || (leaf->hCertStore && !AddAll(extra.get(), leaf->hCertStore)) ||
      (anchors && !AddAll(extra.get(), anchors))) {
    failure = Refused("cannot gather the chain");
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
    failure = Refused("cannot build the chain");
    return false;
  }
  Chain chain(built);
  if (chain->cChain < 1 || chain->rgpChain[0]->cElement < 1) {
    failure = Refused("empty chain");
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
      failure = Refused(known ? std::string("unable to get local issuer certificate")
                              : UntrustedReason(simple, status));
      return false;
    }
    status &= ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
  }
  std::string chainReason = ChainReason(simple, status);
  if (!chainReason.empty()) {
    failure = Refused(chainReason);
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
    failure = Refused("cannot check the chain");
    return false;
  }
  if (result.dwError != 0) {
    failure = PolicyFailure(simple, result.dwError);
    return false;
  }
  if (!NameMatches(leaf, host)) {
    failure = NameMismatch(leaf);
    return false;
  }
  return true;
}

bool VerifyServerCertificate(const CERT_CONTEXT* leaf, const std::string& caFile,
                             const std::string& host, TlsFailure& failure) {
  CertStore anchors;
  if (!caFile.empty()) anchors = LoadPemCertificates(caFile, failure);
  const bool trusted = (caFile.empty() || anchors) &&
                       VerifyRelayCertificate(leaf, anchors.get(), host, failure);
  if (!trusted) failure.host = host;
  return trusted;
}

}  // namespace platform
