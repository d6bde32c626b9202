#include "mime/boundary.h"

#include <cstdio>

namespace {

constexpr std::string_view kHead = "--[=_";
constexpr std::string_view kAfterCounter = "]: ";
constexpr size_t kDigits = 8;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;  // the delimiter is written in lower case only
}

}  // namespace

std::string FormatDelimiter(uint32_t counter, std::string_view text) {
  char head[32];
  std::snprintf(head, sizeof head, "--[=_%08lx]: ", static_cast<unsigned long>(counter));
  std::string delimiter = head;
  delimiter += text;
  return delimiter;
}

void CBoundaryCounters::NoteLine(std::string_view line) {
  if (line.size() < kHead.size() + kDigits + kAfterCounter.size() + m_text.size()) return;
  if (!line.starts_with(kHead)) return;
  uint32_t counter = 0;
  for (size_t i = 0; i < kDigits; ++i) {
    const int digit = HexDigit(line[kHead.size() + i]);
    if (digit < 0) return;
    counter = counter << 4 | static_cast<uint32_t>(digit);
  }
  std::string_view rest = line.substr(kHead.size() + kDigits);
  if (!rest.starts_with(kAfterCounter) || !rest.substr(kAfterCounter.size()).starts_with(m_text)) {
    return;
  }
  m_taken.push_back(counter);
}

uint32_t CBoundaryCounters::FirstFree(uint32_t start) const {
  // n taken counters leave one of start .. start + n free.
  std::vector<bool> taken(m_taken.size() + 1, false);
  for (uint32_t counter : m_taken) {
    const uint32_t distance = counter - start;  // wraps as the counter does
    if (distance < taken.size()) taken[distance] = true;
  }
  uint32_t distance = 0;
  while (taken[distance]) ++distance;
  return start + distance;
}
