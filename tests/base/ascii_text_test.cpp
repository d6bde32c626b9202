#include "base/ascii_text.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseBoundedDecimal, DigitsWithinTheirCountAndBounds) {
  const struct {
    const char* text;
    size_t maxDigits;
    int least, most;
    int expected;  // -1: refused, the value untouched
  } cases[] = {
      {"300", 6, 1, 86400, 300},    {"000001", 6, 1, 86400, 1},  {"0000001", 6, 1, 86400, -1},
      {"0", 6, 1, 86400, -1},       {"86401", 6, 1, 86400, -1},  {"", 6, 1, 86400, -1},
      {"+5", 6, 1, 86400, -1},      {"5 ", 6, 1, 86400, -1},     {"1e3", 6, 1, 86400, -1},
      {"\xd9\xa3", 6, 1, 86400, -1},  // ARABIC-INDIC DIGIT THREE is no digit here
      // More digits than fit an int are refused, not wrapped round.
      {"4294967297", 20, 0, 2147483647, -1},
      {"0", 4, 0, 100, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    int value = -1;
    EXPECT_EQ(ParseBoundedDecimal(c.text, c.maxDigits, c.least, c.most, value), c.expected >= 0);
    EXPECT_EQ(value, c.expected);
  }
}

TEST(AsciiLowered, OnlyAsciiLettersChange) {
  EXPECT_EQ(AsciiLowered("Queued AS 4Xy\xc3\x89"), "queued as 4xy\xc3\x89");
}

}  // namespace
