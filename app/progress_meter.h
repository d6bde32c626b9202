// The progress line of --progress: bytes of the message data sent of the
// total, the percentage and the rate.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "net/line_socket.h"

class CProgressMeter : public CSendWatcher {
 public:
  using Writer = std::function<void(const std::string& text)>;
  using Clock = std::function<int64_t()>;  // milliseconds, never going back

  enum Style {
    kInPlace,     // one line rewritten at most ten times a second (a terminal)
    kTimedLines,  // a line at most ten times a second (a terminal with the trace)
    kDeciles,     // a line at every 10 % (a file or pipe)
  };
  CProgressMeter(Style style, uint64_t total, Writer write, Clock now);

  // The first call starts the clock.
  void Sent(uint64_t bytes) override;
  void Expect(uint64_t total) override { m_total = total; }
  // Writes the final state, unless it has been written or nothing was sent.
  void Finish();

  // "Sent 524288 of 1048576 bytes (50%), 1.2 MB/s"
  static std::string FormatState(uint64_t sent, uint64_t total, int64_t elapsedMs);

 private:
  void Write(const std::string& line, bool final);

  Style m_style;
  uint64_t m_total;
  Writer m_write;
  Clock m_now;
  bool m_started = false;
  bool m_finished = false;
  int64_t m_startMs = 0;
  int64_t m_lastWriteMs = 0;
  uint64_t m_sent = 0;
  uint64_t m_written = UINT64_MAX;  // the bytes of the last state written
  int m_lastDecile = 0;
  size_t m_lineLength = 0;  // of the line standing on the terminal
};
