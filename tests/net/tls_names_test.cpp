#include "net/tls_names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The bytes a certificate's IP address entry is compared with; which texts
// are literals is pinned in ip_address_test.
TEST(TlsNames, AddressLiteralBytes) {
  struct Case {
    const char* host;
    bool valid;
    std::string bytes;
  } cases[] = {
      {"127.0.0.1", true, std::string("\x7f\0\0\x01", 4)},
      {"192.0.2.255", true, std::string("\xc0\x00\x02\xff", 4)},
      {"01.2.3.4", false, ""},  // octal to some parsers
      {"localhost", false, ""},
      {"[::1]", true, std::string(15, '\0') + "\x01"},
      {"2001:db8::25", true,
       std::string("\x20\x01\x0d\xb8", 4) + std::string(10, '\0') + std::string("\x00\x25", 2)},
      {"::ffff:192.0.2.1", true,
       std::string(10, '\0') + std::string("\xff\xff\xc0\x00\x02\x01", 6)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    std::string bytes = "unchanged";
    EXPECT_EQ(tls_names::ParseAddressLiteral(c.host, bytes), c.valid);
    if (c.valid) {
      EXPECT_EQ(bytes, c.bytes);
    }
  }
}

TEST(TlsNames, DnsNamesAndWildcards) {
  struct Case {
    const char* pattern;
    const char* host;
    bool matches;
  } cases[] = {
      {"smtp.example.org", "smtp.example.org", true},
      {"SMTP.Example.ORG", "smtp.example.org", true},
      {"smtp.example.org.", "smtp.example.org", true},
      {"smtp.example.org", "smtp.example.org.", true},
      {"smtp.example.org", "mail.example.org", false},
      {"example.org", "smtp.example.org", false},
      {"smtp.example.org", "example.org", false},
      {"smtp.example.org", "smtp.example.org.evil", false},
      {"*.example.org", "smtp.example.org", true},
      {"*.example.org", "SMTP.EXAMPLE.ORG", true},
      {"*.example.org", "example.org", false},
      {"*.example.org", ".example.org", false},
      {"*.example.org", "a.b.example.org", false},
      {"*.example.org", "smtp.example.net", false},
      {"*.org", "example.org", false},
      {"*", "localhost", false},
      {"f*.example.org", "foo.example.org", false},
      {"*smtp.example.org", "xsmtp.example.org", false},
      {"smtp.*.org", "smtp.example.org", false},
      {"*.*.org", "a.example.org", false},
      {"*.0.0.1", "127.0.0.1", false},
      {"127.0.0.1", "127.0.0.1", false},
      {"", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " / " + c.host);
    EXPECT_EQ(tls_names::MatchesDnsName(c.pattern, c.host), c.matches);
  }
}

// As both TLS libraries show a certificate's IP address entry: not the
// shortened form the trace uses.
TEST(TlsNames, CertificateAddressText) {
  EXPECT_EQ(tls_names::CertificateAddressText(std::string("\xc0\x00\x02\x07", 4)), "192.0.2.7");
  EXPECT_EQ(tls_names::CertificateAddressText(std::string("\x20\x01\x0d\xb8", 4) +
                                              std::string(11, '\0') + "\x01"),
            "2001:db8:0:0:0:0:0:1");
  EXPECT_EQ(tls_names::CertificateAddressText(std::string("\xfe\x80\x00\xab", 4) +
                                              std::string(12, '\xff')),
            "fe80:ab:ffff:ffff:ffff:ffff:ffff:ffff");
  // A malformed entry is named, not read past or shown in pieces.
  EXPECT_EQ(tls_names::CertificateAddressText(""), "an address");
  EXPECT_EQ(tls_names::CertificateAddressText(std::string(6, '\x7f')), "an address");
}

TEST(TlsNames, CertificateHostName) {
  const struct {
    const char* given;
    const char* matched;
  } cases[] = {
      {"mail.example.org.", "mail.example.org"},
      {"mail.example.org", "mail.example.org"},
      {"localhost.", "localhost"},
      {"127.0.0.1", "127.0.0.1"},
      {"[::1]", "[::1]"},
      {"fe80::1%eth0", "fe80::1"},
      {"mail%x.example", "mail%x.example"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tls_names::CertificateHostName(c.given), c.matched) << c.given;
  }
}

}  // namespace
