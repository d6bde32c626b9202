#include "net/tls_failure.h"

#include <gtest/gtest.h>

namespace {

using Kind = platform::TlsFailureKind;

TEST(TlsFailure, OneSentenceForEachKind) {
  const struct {
    Kind kind;
    const char* detail;
    const char* sentence;
  } cases[] = {
      {Kind::kSetup, "", "the TLS library could not be set up"},
      {Kind::kSetup, "error 0x80090331", "the TLS library could not be set up (error 0x80090331)"},
      {Kind::kCaFileUnreadable, "/etc/no-ca.pem", "cannot read the CA file /etc/no-ca.pem"},
      {Kind::kCaFileEmpty, "ca.pem", "no certificate in the CA file ca.pem"},
      {Kind::kUnusableName, "", "the name smtp.example.org cannot be checked against a certificate"},
      {Kind::kConnectionLost, "", "the connection failed during the TLS handshake"},
      {Kind::kClosed, "", "the relay closed the connection during the TLS handshake"},
      {Kind::kTimedOut, "", "the relay did not complete the TLS handshake in time"},
      {Kind::kOldProtocol, "", "the relay does not offer TLS 1.2 or later"},
      {Kind::kNotTls, "", "the relay did not answer with TLS"},
      {Kind::kBrokenOff, "", "the relay broke off the TLS handshake"},
      {Kind::kBrokenOff, "alert 40", "the relay broke off the TLS handshake (alert 40)"},
      {Kind::kCorrupted, "", "the TLS handshake was corrupted"},
      {Kind::kHandshake, "", "TLS handshake failed: unknown error"},
      {Kind::kHandshake, "sslv3 alert bad record mac",
       "TLS handshake failed: sslv3 alert bad record mac"},
      {Kind::kNoCertificate, "", "the relay sent no certificate"},
      {Kind::kCertificate, "self-signed certificate",
       "certificate verify failed: self-signed certificate"},
      {Kind::kNameMismatch, "mail.example.net, 192.0.2.7",
       "certificate is for mail.example.net, 192.0.2.7, not smtp.example.org"},
      {Kind::kNameMismatch, "", "certificate is not for smtp.example.org"},
      {Kind::kLost, "", "the connection was lost"},
      {Kind::kDataWaiting, "", "data was waiting before the TLS handshake"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sentence);
    EXPECT_EQ(TlsFailureText({c.kind, c.detail, "smtp.example.org"}), c.sentence);
  }
}

// What decides whether --retry tries again and which status a script sees.
TEST(TlsFailure, OnlyALostOrSilentConnectionIsWorthAnotherTry) {
  for (Kind kind : {Kind::kLost, Kind::kConnectionLost, Kind::kClosed, Kind::kTimedOut}) {
    EXPECT_TRUE(TlsFailureIsTransient({kind, "", "h"})) << static_cast<int>(kind);
  }
  for (Kind kind : {Kind::kDataWaiting, Kind::kSetup, Kind::kCaFileUnreadable, Kind::kNotTls,
                    Kind::kOldProtocol, Kind::kBrokenOff, Kind::kHandshake, Kind::kCertificate,
                    Kind::kNameMismatch, Kind::kNoCertificate}) {
    EXPECT_FALSE(TlsFailureIsTransient({kind, "", "h"})) << static_cast<int>(kind);
  }
}

TEST(TlsFailure, CertificateNamesCannotDriveTheTerminal) {
  // The certificate's bytes cannot drive the terminal or cut the line short.
  const platform::TlsFailure failure{
      Kind::kNameMismatch, std::string("\x1b]0;t\x07" "a\0b\x7f\tc", 12), "h"};
  EXPECT_EQ(TlsFailureText(failure), "certificate is for \\x1B]0;t\\x07a\\x00b\\x7F\tc, not h");
}

}  // namespace
