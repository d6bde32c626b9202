// --retry and --retry-delay: how often a run that failed for a passing
// reason tries again, and how long it waits in between.
#pragma once

#include <cstdint>
#include <string>

struct SRetryPolicy {
  int retries = 0;         // tries after the first
  int delaySeconds = 30;   // the first wait, doubled for each later one
};

// N of --retry: a whole number from 0 to 100, digits only.
bool ParseRetryCount(const std::string& text, int& count);
// SECONDS of --retry-delay: a whole number from 0 to 600, digits only.
bool ParseRetryDelay(const std::string& text, int& seconds);

// The longest wait between two tries.
constexpr int kLongestRetryWaitMs = 10 * 60 * 1000;

// The wait after failed try number attempt (1 for the first): the policy's
// delay doubled for each earlier retry, at most kLongestRetryWaitMs, less up
// to a quarter taken from random so that many runs that failed together do
// not all return together.
int RetryWaitMs(const SRetryPolicy& policy, int attempt, uint64_t random);
