#include "platform/clock.h"

#include <time.h>
#include <unistd.h>

#include <chrono>

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
  // No entropy source: the fine clock and the process id still differ
  // between two runs in the same second.
  value = static_cast<uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count());
  value ^= static_cast<uint64_t>(getpid()) << 40;
  // One round of a 64-bit mixer so that close inputs give distant values.
  value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
  value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
  return value ^ (value >> 31);
}

}  // namespace platform
