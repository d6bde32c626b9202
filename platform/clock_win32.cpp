#define _CRT_RAND_S  // rand_s: the system's cryptographic generator
#include <stdlib.h>

#include "platform/clock.h"

#include <windows.h>

#include "base/fallback_random.h"

namespace platform {
namespace {

int64_t Ticks(const FILETIME& time) {
  return static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

}  // namespace

// Local time and offset are both taken from one reading of the clock, so
// that they agree also across a change of daylight saving time.
LocalTime CurrentLocalTime() {
  LocalTime result;
  FILETIME utc;
  FILETIME local;
  SYSTEMTIME parts;
  GetSystemTimeAsFileTime(&utc);
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &parts)) {
    return result;
  }
  result.year = parts.wYear;
  result.month = parts.wMonth;
  result.day = parts.wDay;
  result.hour = parts.wHour;
  result.minute = parts.wMinute;
  result.second = parts.wSecond;
  result.weekday = parts.wDayOfWeek;
  result.utcOffsetMinutes = static_cast<int>((Ticks(local) - Ticks(utc)) / 600000000);  // 100 ns
  return result;
}

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }

uint64_t RandomValue() {
  unsigned int high = 0;
  unsigned int low = 0;
  if (rand_s(&high) == 0 && rand_s(&low) == 0) return (uint64_t{high} << 32) | low;
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return FallbackRandom(static_cast<uint64_t>(counter.QuadPart), GetCurrentProcessId());
}

int64_t MonotonicMs() { return static_cast<int64_t>(GetTickCount64()); }

}  // namespace platform
