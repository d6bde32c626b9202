// The protocol trace on standard error: what was sent, masked past the trace
// mask, and what was received, with a peer's control bytes made visible.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "base/printable_text.h"
#include "net/line_socket.h"
#include "net/line_socket_parts.h"

using line_socket::kBlock;

namespace {

constexpr char kSecret[] = "*** SECRET! ***\r\n";

}  // namespace

void CLineSocket::Trace(const char* format, ...) {
  if (m_quiet) return;
  FlushTrace();
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fflush(stderr);
}

// One trace text, written with a single call so that lines never
// interleave; behind whatever trace is gathered.
void CLineSocket::WriteTrace(std::string_view text) {
  FlushTrace();
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

void CLineSocket::FlushTrace() {
  if (m_traceBlock.empty()) return;
  std::fwrite(m_traceBlock.data(), 1, m_traceBlock.size(), stderr);
  std::fflush(stderr);
  m_traceBlock.clear();
}

// "--> " and the text as sent, masked past the trace-mask position; built
// where it is written: in the gathered block, or in a string written at once.
void CLineSocket::TraceSent(std::string_view text) {
  if (m_quiet) return;
  std::string direct;
  std::string& trace = m_connection.gather ? m_traceBlock : direct;
  trace.append("--> ");
  if (m_traceMask >= 0 && text.size() > static_cast<size_t>(m_traceMask)) {
    trace.append(text.substr(0, static_cast<size_t>(m_traceMask)));
    trace.append(kSecret);
  } else {
    trace.append(text);
  }
  if (!m_connection.gather) {
    WriteTrace(direct);
  } else if (m_traceBlock.size() >= kBlock && !m_framer) {
    // Framed, the block's trace waits for its BDAT line, which comes first.
    FlushTrace();
  }
}

void CLineSocket::TraceReceived(std::string_view line) {
  if (m_quiet) return;
  std::string trace = "<-- ";
  AppendPrintable(trace, line);
  trace += '\n';
  WriteTrace(trace);
}

void CLineSocket::TraceDecoded(std::string_view text) {
  if (m_quiet) return;
  std::string trace = "<-- (decoded) ";
  AppendPrintable(trace, text);
  trace += '\n';
  WriteTrace(trace);
}
