// The system's TLS library (OpenSSL on Linux, SChannel on Windows): a client
// session over an already connected byte stream, exposed as a byte stream of
// its own, so that everything above it keeps reading and writing lines.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "net/byte_stream.h"

namespace platform {

struct TlsOptions {
  // The relay's name as given by the user: verified against the certificate
  // and sent as SNI. An address literal ("127.0.0.1", "::1") is verified
  // against the certificate's IP address entries and sends no SNI.
  std::string hostName;
  // PEM file whose certificates are trusted instead of the system's store;
  // empty: the system's store.
  std::string caFile;
  // False only when the user asked not to verify (--insecure).
  bool verify = true;
};

struct TlsSessionInfo {
  std::string protocol;  // "TLS 1.3"
  std::string cipher;    // "TLS_AES_256_GCM_SHA384"
};

// What ended a handshake, in the system's terms: net/tls_failure.h turns it
// into the sentence a person reads, the same on every system.
enum class TlsFailureKind {
  kNone,
  // Found by the connection before the library ran:
  kLost,             // the connection was already gone
  kDataWaiting,      // clear-text bytes were waiting, which TLS must not follow
  // Found by the library:
  kSetup,            // the library could not start; detail: the system's code, if any
  kCaFileUnreadable, // detail: the file
  kCaFileEmpty,      // detail: the file, which holds no certificate
  kUnusableName,     // the host cannot be checked against a certificate
  kConnectionLost,   // a send or receive failed
  kClosed,           // the relay closed the connection
  kTimedOut,
  kOldProtocol,      // the relay offers nothing from TLS 1.2 on
  kNotTls,           // the answer is not a TLS record
  kBrokenOff,        // a fatal alert; detail: its number, if known
  kCorrupted,        // a record failed its integrity check
  kHandshake,        // anything else; detail: the library's own text
  kNoCertificate,    // the relay sent none
  kCertificate,      // the chain was refused; detail: the library's reason
  kNameMismatch,     // detail: the certificate's names ("" when it names none)
};

struct TlsFailure {
  TlsFailure() = default;
  TlsFailure(TlsFailureKind kind, std::string detail = std::string(),
             std::string host = std::string())
      : kind(kind), detail(std::move(detail)), host(std::move(host)) {}

  TlsFailureKind kind = TlsFailureKind::kNone;
  std::string detail;
  std::string host;  // the name checked: set once, where the check was asked for
};

// Runs the client handshake over transport (TLS 1.2 at least), waiting at
// most timeoutMs in all. On success returns the encrypted stream, which owns
// transport: its SendAll/Receive carry plain text, and Close sends
// close_notify before closing transport. On failure returns nullptr, closes
// transport and sets failure.
std::unique_ptr<CByteStream> StartTlsClient(std::unique_ptr<CByteStream> transport,
                                            const TlsOptions& options, int timeoutMs,
                                            TlsSessionInfo& info, TlsFailure& failure);

// The TLS library and its version, for --version ("OpenSSL 3.0.11").
std::string TlsLibraryVersion();

}  // namespace platform
