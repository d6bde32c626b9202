#include "app/retry_policy.h"

#include <algorithm>

#include "base/ascii_text.h"

bool ParseRetryCount(const std::string& text, int& count) {
  return ParseBoundedDecimal(text, 4, 0, 100, count);
}

bool ParseRetryDelay(const std::string& text, int& seconds) {
  return ParseBoundedDecimal(text, 4, 0, kLongestRetryWaitMs / 1000, seconds);
}

int RetryWaitMs(const SRetryPolicy& policy, int attempt, uint64_t random) {
  int64_t wait = static_cast<int64_t>(std::max(policy.delaySeconds, 0)) * 1000;
  for (int i = 1; i < attempt && wait < kLongestRetryWaitMs; ++i) wait *= 2;
  wait = std::min<int64_t>(wait, kLongestRetryWaitMs);
  const int64_t jitter = static_cast<int64_t>(random % static_cast<uint64_t>(wait / 4 + 1));
  return static_cast<int>(wait - jitter);
}
