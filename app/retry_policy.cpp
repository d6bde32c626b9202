#include "app/retry_policy.h"

#include <algorithm>

namespace {

bool ParseBounded(const std::string& text, int most, int& value) {
  if (text.empty() || text.size() > 4) return false;
  int parsed = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    parsed = parsed * 10 + (c - '0');
  }
  if (parsed > most) return false;
  value = parsed;
  return true;
}

}  // namespace

bool ParseRetryCount(const std::string& text, int& count) { return ParseBounded(text, 100, count); }

bool ParseRetryDelay(const std::string& text, int& seconds) {
  return ParseBounded(text, kLongestRetryWaitMs / 1000, seconds);
}

int RetryWaitMs(const SRetryPolicy& policy, int attempt, uint64_t random) {
  int64_t wait = static_cast<int64_t>(std::max(policy.delaySeconds, 0)) * 1000;
  for (int i = 1; i < attempt && wait < kLongestRetryWaitMs; ++i) wait *= 2;
  wait = std::min<int64_t>(wait, kLongestRetryWaitMs);
  const int64_t jitter = static_cast<int64_t>(random % static_cast<uint64_t>(wait / 4 + 1));
  return static_cast<int>(wait - jitter);
}
