#include "app/progress_meter.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

constexpr int64_t kRewriteMs = 100;  // ten updates a second at most

std::string FormatRate(double bytesPerSecond) {
  static const char* const kUnits[] = {"B/s", "kB/s", "MB/s", "GB/s"};
  size_t unit = 0;
  while (bytesPerSecond >= 1000 && unit + 1 < std::size(kUnits)) {
    bytesPerSecond /= 1000;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytesPerSecond,
                kUnits[unit]);
  return text;
}

}  // namespace

CProgressMeter::CProgressMeter(Style style, uint64_t total, Writer write, Clock now)
    : m_style(style), m_total(total), m_write(std::move(write)), m_now(std::move(now)) {}

std::string CProgressMeter::FormatState(uint64_t sent, uint64_t total, int64_t elapsedMs) {
  // A total that proves short never shows more than 100 %.
  total = std::max(total, sent);
  const unsigned percent =
      total == 0 ? 100 : static_cast<unsigned>(static_cast<double>(sent) * 100 / total);
  const double rate = elapsedMs > 0 ? static_cast<double>(sent) * 1000 / elapsedMs : 0;
  char text[96];
  std::snprintf(text, sizeof text, "Sent %llu of %llu bytes (%u%%), ",
                static_cast<unsigned long long>(sent), static_cast<unsigned long long>(total),
                percent);
  return text + FormatRate(rate);
}

void CProgressMeter::Sent(uint64_t bytes) {
  const int64_t now = m_now();
  if (!m_started) {
    m_started = true;
    m_startMs = now;
    m_lastWriteMs = now - kRewriteMs;
  }
  m_sent = bytes;
  if (m_finished) return;
  const std::string state = FormatState(bytes, m_total, now - m_startMs);
  if (m_style != kDeciles) {
    if (now - m_lastWriteMs < kRewriteMs) return;
    m_lastWriteMs = now;
    Write(state, false);
    return;
  }
  const int decile =
      m_total == 0 ? 10 : static_cast<int>(std::min<uint64_t>(bytes, m_total) * 10 / m_total);
  if (decile <= m_lastDecile) return;
  m_lastDecile = decile;
  Write(state, false);
}

void CProgressMeter::Finish() {
  if (!m_started || m_finished) return;
  m_finished = true;
  if (m_style != kInPlace && m_written == m_sent) return;
  Write(FormatState(m_sent, m_total, m_now() - m_startMs), true);
}

// On a terminal the line is rewritten from its start and padded over the
// longer line it replaces; the final state ends it.
void CProgressMeter::Write(const std::string& line, bool final) {
  m_written = m_sent;
  if (m_style != kInPlace) {
    m_write(line + "\n");
    return;
  }
  std::string text = "\r" + line;
  if (line.size() < m_lineLength) text.append(m_lineLength - line.size(), ' ');
  m_lineLength = line.size();
  if (final) text += "\n";
  m_write(text);
}
