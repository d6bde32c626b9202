#include "mime/header_values.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

std::string NeutraliseLineBreaks(std::string_view value) {
  std::string result(value);
  for (char& c : result) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return result;
}

std::string FormatDateTime(const platform::LocalTime& time) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  // Out-of-range fields must not index past the tables.
  int weekday = ((time.weekday % 7) + 7) % 7;
  int month = time.month >= 1 && time.month <= 12 ? time.month - 1 : 0;
  int offset = std::abs(time.utcOffsetMinutes) % (100 * 60);
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, "%s, %d %s %04d %02d:%02d:%02d %c%02d%02d",
                kDays[weekday], time.day, kMonths[month], time.year, time.hour, time.minute,
                time.second, time.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
  return buffer;
}

SMessageStamp CurrentMessageStamp() {
  SMessageStamp stamp;
  stamp.time = platform::CurrentLocalTime();
  stamp.processId = platform::CurrentProcessId();
  stamp.random = platform::RandomValue();
  return stamp;
}

std::string MessageIdDomain(const std::string& originatorAddress,
                            const std::string& localHostName) {
  size_t at = originatorAddress.rfind('@');
  if (at != std::string::npos && at + 1 < originatorAddress.size()) {
    return originatorAddress.substr(at + 1);
  }
  if (!localHostName.empty()) return localHostName;
  return "localhost";
}

std::string FormatMessageId(const SMessageStamp& stamp, const std::string& domain) {
  const platform::LocalTime& t = stamp.time;
  char left[160];
  std::snprintf(left, sizeof left, "%04d%02d%02d%02d%02d%02d.%lu.%016" PRIx64, t.year, t.month,
                t.day, t.hour, t.minute, t.second, stamp.processId, stamp.random);
  std::string id = "<";
  id.append(left).append("@").append(domain).append(">");
  return id;
}

std::string_view LastPathName(std::string_view path, std::string_view separators) {
  const size_t last = path.find_last_of(separators);
  return last == std::string_view::npos ? path : path.substr(last + 1);
}
