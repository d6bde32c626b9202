// The MIME boundary: its delimiter string and the search for a counter
// whose delimiter begins no line of the message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// "--[=_%08lx]: " with counter, then text.
std::string FormatDelimiter(uint32_t counter, std::string_view text);

// The counters whose delimiter (with the given text) begins a noted line.
// One look per line and one pass to answer, so the search stays linear in
// the size of the message however many lines are delimiters.
class CBoundaryCounters {
 public:
  explicit CBoundaryCounters(std::string_view text) : m_text(text) {}
  void NoteLine(std::string_view line);
  // The first counter from start on (wrapping past 0xffffffff) that no noted
  // line begins with: what raising start by one until it is free gives.
  uint32_t FirstFree(uint32_t start) const;
  // The counters noted so far, and noting them again elsewhere.
  const std::vector<uint32_t>& Taken() const { return m_taken; }
  void NoteTaken(const std::vector<uint32_t>& counters) {
    m_taken.insert(m_taken.end(), counters.begin(), counters.end());
  }

 private:
  std::string m_text;
  std::vector<uint32_t> m_taken;
};
