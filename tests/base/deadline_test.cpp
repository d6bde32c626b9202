#include "base/deadline.h"

#include <gtest/gtest.h>

namespace {

TEST(Deadline, StartRemainingExpired) {
  // Without an end, and from a negative time-out: the "for ever" of poll.
  for (const CDeadline& never : {CDeadline(), CDeadline::Start(-1), CDeadline::Start(-500)}) {
    EXPECT_FALSE(never.IsSet());
    EXPECT_EQ(never.RemainingMs(), -1);
    EXPECT_FALSE(never.Expired());
  }
  // A zero time-out has passed at once: no wait at all, never "for ever".
  const CDeadline now = CDeadline::Start(0);
  EXPECT_TRUE(now.IsSet());
  EXPECT_EQ(now.RemainingMs(), 0);
  EXPECT_TRUE(now.Expired());

  const CDeadline later = CDeadline::Start(60000);
  EXPECT_FALSE(later.Expired());
  EXPECT_GT(later.RemainingMs(), 50000);
  EXPECT_LE(later.RemainingMs(), 60000);
}

}  // namespace
