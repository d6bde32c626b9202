#include "mime/address.h"

#include <gtest/gtest.h>

#include <string>

TEST(IsValidAddress, Cases) {
  struct Case {
    std::string address;
    bool valid;
  } cases[] = {
      {"ann@example.test", true},
      {"", true},  // the null reverse-path
      {"\"ann smith\"@example.test", false},
      {"ann@example.test> RET=HDRS", false},
      {"a<b@x", false},
      {"a>b@x", false},
      {"a\tb@x", false},
      {std::string("a\0b@x", 5), false},
      {"a\rb@x", false},
      {"a\nb@x", false},
      {"a\x1f" "b@x", false},
      {"a\x7f" "b@x", false},
      {"j\xc3\xbcrgen@example.test", true},  // bytes above 0x7F are not controls
      {"!#$%&'*+-/=?^_`{|}~@x", true},
      // RFC 5321's path: 254 characters between the brackets at most.
      {std::string(64, 'l') + "@" + std::string(189, 'd'), true},
      {std::string(64, 'l') + "@" + std::string(190, 'd'), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(IsValidAddress(c.address), c.valid);
  }
}
