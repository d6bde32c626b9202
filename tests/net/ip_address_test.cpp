#include "net/ip_address.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(IpAddress, IPv6LiteralsReadAndWrittenInTheirShortestForm) {
  struct Case {
    const char* text;
    const char* written;  // nullptr: not an IPv6 literal
  } cases[] = {
      {"::1", "::1"},
      {"::", "::"},
      {"0:0:0:0:0:0:0:1", "::1"},
      {"2001:DB8::25", "2001:db8::25"},
      {"2001:0db8:0000:0000:0000:0000:0000:0025", "2001:db8::25"},
      {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},    // the first of equal runs
      {"2001:0:0:1:0:0:0:1", "2001:0:0:1::1"},          // the longest run
      {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"}, // one zero group stays
      {"1::", "1::"},
      {"fe80::1:2", "fe80::1:2"},
      {"::ffff:192.0.2.1", "::ffff:192.0.2.1"},
      {"::ffff:c000:201", "::ffff:192.0.2.1"},
      {"64:ff9b::192.0.2.33", "64:ff9b::c000:221"},
      {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8"},
      {"", nullptr},
      {"relay", nullptr},
      {"192.0.2.1", nullptr},
      {":1", nullptr},
      {"1:", nullptr},
      {"1:::2", nullptr},
      {"1::2::3", nullptr},
      {"12345::", nullptr},
      {"1:2:3:4:5:6:7", nullptr},
      {"1:2:3:4:5:6:7:8:9", nullptr},
      {"1:2:3:4::5:6:7:8", nullptr},
      {"::1.2.3", nullptr},
      {"::256.0.0.1", nullptr},
      {"::1.2.3.4:5", nullptr},
      {"fe80::1%eth0", nullptr},
      {"[::1]", nullptr},
      {"::g", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    platform::SAddress address;
    EXPECT_EQ(ParseIPv6Literal(c.text, address), c.written != nullptr);
    if (c.written) {
      EXPECT_EQ(FormatAddress(address), c.written);
    }
  }
}

// The one reader of address literals, every form in one table: which
// readers take a text and the address they make of it.
TEST(IpAddress, LiteralsEachReaderTakes) {
  enum : unsigned { kV4 = 1, kV6 = 2, kAny = 4, kInet = 8 };
  struct Case {
    const char* text;
    unsigned takenBy;      // the readers that accept it
    const char* written;   // FormatAddress of what they read
  } cases[] = {
      {"192.0.2.1", kV4 | kAny | kInet, "192.0.2.1"},
      {"0.0.0.0", kV4 | kAny | kInet, "0.0.0.0"},
      {"255.255.255.254", kV4 | kAny | kInet, "255.255.255.254"},
      // inet_addr cannot tell the broadcast address from its failure.
      {"255.255.255.255", kV4 | kAny, "255.255.255.255"},
      // A leading zero is octal to inet_addr; a literal refuses it.
      {"01.2.3.4", kInet, "1.2.3.4"},
      {"010.0.0.1", kInet, "8.0.0.1"},
      {"0x7f.0.0.1", kInet, "127.0.0.1"},
      {"0X7F.1", kInet, "127.0.0.1"},
      {"127.1", kInet, "127.0.0.1"},
      {"127.0.1", kInet, "127.0.0.1"},
      {"2130706433", kInet, "127.0.0.1"},
      {"1.2.65535", kInet, "1.2.255.255"},
      {"0xfffffffe", kInet, "255.255.255.254"},
      {"0x1.0x2.0x3.0x4", kInet, "1.2.3.4"},
      {"1.2.3.4 trailing", kInet, "1.2.3.4"},
      {"1.2.65536", 0, nullptr},
      {"08.1.1.1", 0, nullptr},
      {"0x", 0, nullptr},
      {"256.0.0.1", 0, nullptr},
      {"1.2.3.4.5", 0, nullptr},
      {"1.2.3.", 0, nullptr},
      {"1..2", 0, nullptr},
      {"1.2.3.4a", 0, nullptr},
      {"4294967296", 0, nullptr},
      {"-1.2.3.4", 0, nullptr},
      {" 1.2.3.4", 0, nullptr},
      {"", 0, nullptr},
      {"relay", 0, nullptr},
      {"::1", kV6 | kAny, "::1"},
      {"[::1]", kAny, "::1"},
      {"[192.0.2.1]", kAny, "192.0.2.1"},
      {"[::1", 0, nullptr},
      {"::ffff:192.0.2.1", kV6 | kAny, "::ffff:192.0.2.1"},
      {"::ffff:192.0.02.1", 0, nullptr},  // the dotted tail is a literal too
      {"2001:DB8:0:0:0:0:0:25", kV6 | kAny, "2001:db8::25"},
      {"fe80::", kV6 | kAny, "fe80::"},
      {"fe80::1%eth0", 0, nullptr},
      {"1:2:3:4:5:6:7::8", 0, nullptr},
      {"g::1", 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    platform::SAddress address;
    std::string written;
    const bool v4 = ParseIPv4Literal(c.text, address);
    if (v4) written = FormatAddress(address);
    address = platform::SAddress();
    const bool v6 = ParseIPv6Literal(c.text, address);
    if (v6) written = FormatAddress(address);
    address = platform::SAddress();
    const bool any = ParseAddressLiteral(c.text, address);
    if (any) {
      EXPECT_EQ(FormatAddress(address), c.written);
    }
    address = platform::SAddress();
    const bool inet = ParseInetAddress(c.text, address);
    if (inet) {
      EXPECT_EQ(FormatAddress(address), c.written);
    }
    EXPECT_EQ(v4, (c.takenBy & kV4) != 0);
    EXPECT_EQ(v6, (c.takenBy & kV6) != 0);
    EXPECT_EQ(any, (c.takenBy & kAny) != 0);
    EXPECT_EQ(inet, (c.takenBy & kInet) != 0);
    if (v4 || v6) {
      EXPECT_EQ(written, c.written);
    }
  }
}

TEST(IpAddress, IPv4WrittenDotted) {
  platform::SAddress address;
  address.family = platform::SAddress::kIPv4;
  const uint8_t bytes[4] = {192, 0, 2, 255};
  for (int i = 0; i < 4; ++i) address.bytes[i] = bytes[i];
  EXPECT_EQ(FormatAddress(address), "192.0.2.255");
  EXPECT_EQ(FormatAddress(platform::SAddress()), "");
}

}  // namespace
