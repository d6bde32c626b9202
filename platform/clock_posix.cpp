#include "platform/clock.h"

#include <time.h>
#include <unistd.h>

#include <chrono>

#include "base/fallback_random.h"

namespace platform {

LocalTime CurrentLocalTime() {
  LocalTime result;
  time_t now = time(nullptr);
  struct tm parts {};
  if (localtime_r(&now, &parts) == nullptr) return result;
  result.year = parts.tm_year + 1900;
  result.month = parts.tm_mon + 1;
  result.day = parts.tm_mday;
  result.hour = parts.tm_hour;
  result.minute = parts.tm_min;
  result.second = parts.tm_sec;
  result.weekday = parts.tm_wday;
  result.utcOffsetMinutes = static_cast<int>(parts.tm_gmtoff / 60);
  return result;
}

unsigned long CurrentProcessId() { return static_cast<unsigned long>(getpid()); }

uint64_t RandomValue() {
  uint64_t value = 0;
  if (getentropy(&value, sizeof value) == 0) return value;
  return FallbackRandom(static_cast<uint64_t>(
                            std::chrono::high_resolution_clock::now().time_since_epoch().count()),
                        static_cast<uint64_t>(getpid()));
}

int64_t MonotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace platform
