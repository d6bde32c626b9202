// The end of a wait: started from a time-out, asked how long is left and
// whether it has passed. Every wait of the connection (connect, reply, TLS
// handshake and records, socket reads) counts down one of these, so that a
// wait made of several steps never outlasts the time it was given.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>

#include "platform/clock.h"

class CDeadline {
 public:
  // No end: every wait may last for ever.
  CDeadline() = default;
  // timeoutMs from now; a negative time-out never ends.
  static CDeadline Start(int timeoutMs) {
    CDeadline deadline;
    if (timeoutMs >= 0) deadline.m_at = platform::MonotonicMs() + timeoutMs;
    return deadline;
  }

  bool IsSet() const { return m_at >= 0; }
  // Milliseconds left, 0 once passed; -1 without an end, the "wait for ever"
  // of poll and the socket calls.
  int RemainingMs() const {
    if (m_at < 0) return -1;
    const int64_t left = m_at - platform::MonotonicMs();
    return left > 0 ? static_cast<int>(std::min<int64_t>(left, INT_MAX)) : 0;
  }
  bool Expired() const { return m_at >= 0 && platform::MonotonicMs() >= m_at; }

 private:
  int64_t m_at = -1;  // a platform::MonotonicMs() value; -1: none
};
