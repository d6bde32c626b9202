// Matching the relay's name, as the user gave it, against the names a
// certificate carries. No system calls: both TLS libraries' sides use it.
#pragma once

#include <string>
#include <string_view>

namespace tls_names {

// An address literal as net/ip_address.h's ParseAddressLiteral reads it
// (dotted IPv4 or IPv6, optionally in brackets). On success bytes holds the
// 4 or 16 bytes in network order, as a certificate's IP address entry
// carries them.
bool ParseAddressLiteral(const std::string& host, std::string& bytes);

// A certificate DNS name against a host name, without regard to ASCII case
// and to one trailing dot. A wildcard is accepted only as the whole leftmost
// label of a name with at least two more labels ("*.example.org"), matches
// exactly one non-empty label, and never an address literal.
bool MatchesDnsName(const std::string& pattern, const std::string& host);

// The text of a certificate's IP address entry as a failure shows it:
// four bytes dotted ("192.0.2.7"), otherwise hexadecimal groups of two bytes,
// not shortened ("2001:db8:0:0:0:0:0:1"), as the certificate holds them;
// "an address" for an entry of any other length.
std::string CertificateAddressText(std::string_view bytes);

// The name as SNI carries it and certificates are matched against: without
// the trailing dot of a fully qualified name ("mail.example.org." is
// "mail.example.org"), which the lookup keeps, and an address without the
// zone of a link-local address ("fe80::1%eth0" is "fe80::1").
std::string CertificateHostName(const std::string& host);

}  // namespace tls_names
