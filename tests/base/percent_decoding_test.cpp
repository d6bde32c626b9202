#include "base/percent_decoding.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A cid: reference and a form value decode by the same rule; only the form
// takes "+" for a blank.
TEST(PercentDecoded, EscapesAndWhatIsLeftAlone) {
  struct Case {
    std::string text;
    bool plusIsSpace;
    std::string decoded;
  } cases[] = {
      {"chart%20one.png", false, "chart one.png"},
      {"%e2%9C%93", false, "\xE2\x9C\x93"},  // either case of hex digit
      {"a+b", false, "a+b"},
      {"a+b%2B", true, "a b+"},
      {"100%", false, "100%"},    // too short to be an escape
      {"%4", false, "%4"},
      {"%zz%41", false, "%zzA"},  // not hex: kept, the next one decoded
      {"%00x", false, std::string("\0x", 2)},
      {"", true, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PercentDecoded(c.text, c.plusIsSpace), c.decoded) << c.text;
  }
}

}  // namespace
