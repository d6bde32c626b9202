// What the Date and Message-ID header fields take from the system (the local
// time with its offset from UTC, the process id and a random value), and the
// monotonic clock every wait is measured on.
#pragma once

#include <cstdint>

namespace platform {

// A moment as the local wall clock shows it.
struct LocalTime {
  int year = 1970;
  int month = 1;   // 1..12
  int day = 1;     // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int weekday = 4;           // 0 = Sunday
  int utcOffsetMinutes = 0;  // local time minus UTC, east positive
};

// Now, in the system's time zone.
LocalTime CurrentLocalTime();
unsigned long CurrentProcessId();
// From the system's entropy source; never the same twice in practice.
uint64_t RandomValue();
// Milliseconds from an arbitrary fixed point, never going backwards.
int64_t MonotonicMs();

}  // namespace platform
