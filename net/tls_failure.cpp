#include "net/tls_failure.h"

#include "base/printable_text.h"

namespace {

// "TEXT" alone, or "TEXT (DETAIL)" when the system said more.
std::string WithDetail(const char* text, const std::string& detail) {
  return detail.empty() ? std::string(text) : std::string(text) + " (" + detail + ")";
}

}  // namespace

std::string TlsFailureText(const platform::TlsFailure& failure) {
  using Kind = platform::TlsFailureKind;
  const std::string& detail = failure.detail;
  switch (failure.kind) {
    case Kind::kNone:
    case Kind::kLost:
      return "the connection was lost";
    case Kind::kDataWaiting:
      return "data was waiting before the TLS handshake";
    case Kind::kSetup:
      return WithDetail("the TLS library could not be set up", detail);
    case Kind::kCaFileUnreadable:
      return "cannot read the CA file " + detail;
    case Kind::kCaFileEmpty:
      return "no certificate in the CA file " + detail;
    case Kind::kUnusableName:
      return "the name " + failure.host + " cannot be checked against a certificate";
    case Kind::kConnectionLost:
      return "the connection failed during the TLS handshake";
    case Kind::kClosed:
      return "the relay closed the connection during the TLS handshake";
    case Kind::kTimedOut:
      return "the relay did not complete the TLS handshake in time";
    case Kind::kOldProtocol:
      return "the relay does not offer TLS 1.2 or later";
    case Kind::kNotTls:
      return "the relay did not answer with TLS";
    case Kind::kBrokenOff:
      return WithDetail("the relay broke off the TLS handshake", detail);
    case Kind::kCorrupted:
      return "the TLS handshake was corrupted";
    case Kind::kHandshake:
      return "TLS handshake failed: " + (detail.empty() ? std::string("unknown error") : detail);
    case Kind::kNoCertificate:
      return "the relay sent no certificate";
    case Kind::kCertificate:
      return "certificate verify failed: " + detail;
    case Kind::kNameMismatch: {
      if (detail.empty()) return "certificate is not for " + failure.host;
      std::string shown;
      AppendPrintable(shown, detail);
      return "certificate is for " + shown + ", not " + failure.host;
    }
  }
  return "TLS failed";
}

bool TlsFailureIsTransient(const platform::TlsFailure& failure) {
  using Kind = platform::TlsFailureKind;
  switch (failure.kind) {
    case Kind::kNone:
    case Kind::kLost:
    case Kind::kConnectionLost:
    case Kind::kClosed:
    case Kind::kTimedOut:
      return true;
    default:
      return false;
  }
}
