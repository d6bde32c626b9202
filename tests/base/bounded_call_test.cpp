#include "base/bounded_call.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

TEST(BoundedCall, ReturnsWhatTheCallFoundInTime) {
  std::string result;
  EXPECT_TRUE(CallWithin(5000, [](std::string& found) { found.append("mail.test"); return true; },
                         result));
  EXPECT_EQ(result, "mail.test");
  result = "kept";
  EXPECT_FALSE(CallWithin(-1, [](std::string& found) { found.append("x"); return false; }, result));
  EXPECT_EQ(result, "kept");
}

// Without a limit there is nothing to wait beside: the call runs on the
// caller's thread, so no wake-up can be lost between two threads.
TEST(BoundedCall, WithoutALimitRunsOnTheCallersThread) {
  const auto caller = std::this_thread::get_id();
  std::string result;
  EXPECT_TRUE(CallWithin(
      -1,
      [caller](std::string& found) {
        found.append(std::this_thread::get_id() == caller ? "same" : "other");
        return true;
      },
      result));
  EXPECT_EQ(result, "same");
}

// A call that never ends in time (a name server that never answers) does not
// hold the caller past the limit.
TEST(BoundedCall, GivesUpWhenTheTimeRunsOut) {
  std::string result = "kept";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(CallWithin(
      100,
      [](std::string& found) {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        found.append("late");
        return true;
      },
      result));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
  EXPECT_EQ(result, "kept");
}

}  // namespace
