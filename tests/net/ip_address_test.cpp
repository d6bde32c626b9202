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

TEST(IpAddress, IPv4WrittenDotted) {
  platform::SAddress address;
  address.family = platform::SAddress::kIPv4;
  const uint8_t bytes[4] = {192, 0, 2, 255};
  for (int i = 0; i < 4; ++i) address.bytes[i] = bytes[i];
  EXPECT_EQ(FormatAddress(address), "192.0.2.255");
  EXPECT_EQ(FormatAddress(platform::SAddress()), "");
}

}  // namespace
