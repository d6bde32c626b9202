// A line sink that keeps every line handed to it, and the lines a planned
// file part sends.
#pragma once

#include <string>

#include "mime/line_list.h"
#include "mime/message_part.h"
#include "mime/part_stream.h"

class CLineCollector : public CLineSink {
 public:
  void TakeLines(const CLineList& lines) override {
    for (size_t i = 0; i < lines.size(); ++i) {
      bytes.append(lines[i]);
      ++count;
    }
  }
  std::string bytes;  // every line, in order
  size_t count = 0;
};

// The bytes of every line the part sends (before dot-stuffing); empty when a
// planned file no longer holds its bytes.
inline std::string SentLines(const CMessagePart& part) {
  if (!part.m_plan) return std::string(part.m_lines.Bytes());
  CLineCollector collector;
  return StreamPlannedPart(part, collector) ? collector.bytes : std::string();
}
