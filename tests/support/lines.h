// Small helpers shared by the encoder tests.
#pragma once

#include <string>
#include <vector>

#include "mime/line_list.h"

// The lines of a list as strings, for comparison with expected tables.
inline std::vector<std::string> Lines(const CLineList& list) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < list.size(); ++i) lines.emplace_back(list[i]);
  return lines;
}

// Bytes of every value class, zero and the high half included.
inline std::string Pattern(size_t n) {
  std::string bytes;
  for (size_t i = 0; i < n; ++i) bytes.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
  return bytes;
}
