#include "app/recipient_limit.h"

#include <gtest/gtest.h>

#include <string>

TEST(RecipientLimit, ParsesWholeNumbersInRange) {
  const struct {
    const char* text;
    int limit;  // 0: refused
  } cases[] = {
      {"1", 1}, {"100", 100}, {"1000000", 1000000}, {"0", 0}, {"", 0}, {"-1", 0},
      {"+5", 0}, {" 5", 0}, {"5x", 0}, {"05", 0}, {"1000001", 0}, {"99999999999", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    int limit = -1;
    EXPECT_EQ(ParseRecipientLimit(c.text, limit), c.limit != 0);
    EXPECT_EQ(limit, c.limit != 0 ? c.limit : -1);
  }
}
