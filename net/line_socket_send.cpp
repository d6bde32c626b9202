// Sending: formatted and plain texts, gathered into blocks or sent at once,
// diverted to a sink, and counted for a watcher.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>

#include "net/line_socket.h"
#include "net/line_socket_parts.h"

using line_socket::kBlock;

namespace {

constexpr size_t kFormatBuffer = 1024;

}  // namespace

bool CLineSocket::SendFormatted(const char* format, ...) {
  char fixed[kFormatBuffer];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int length = std::vsnprintf(fixed, sizeof fixed, format, args);
  va_end(args);
  if (length < 0) {
    va_end(again);
    return false;
  }
  if (static_cast<size_t>(length) < sizeof fixed) {
    va_end(again);
    return SendText(std::string_view(fixed, static_cast<size_t>(length)));
  }
  // Too long for the usual buffer: format again into one that fits, so that
  // no text is ever cut.
  std::string grown(static_cast<size_t>(length) + 1, '\0');
  std::vsnprintf(grown.data(), grown.size(), format, again);
  va_end(again);
  grown.resize(static_cast<size_t>(length));
  return SendText(grown);
}

bool CLineSocket::SendText(std::string_view text) {
  if (m_sink) {
    m_sink->Write(text);
    return true;
  }
  // The trace shows what left, once it has left: a gathered text's trace
  // waits with it for the send of its block, the block it fills included.
  const SConnection& c = m_connection;
  if (c.gather && c.stream && !c.sendFailed) {
    TraceSent(text);
    m_bytesTaken += text.size();
    return SendBytes(text);
  }
  const bool sent = SendBytes(text);
  if (sent) {
    m_bytesTaken += text.size();
    TraceSent(text);
  }
  return sent;
}

// Sends now, or gathers while gathering is on.
bool CLineSocket::SendBytes(std::string_view text) {
  SConnection& c = m_connection;
  // Once a send has failed the peer has lost bytes and nothing later can be
  // delivered; trying again would also wait out the send timeout once for
  // every remaining line when the peer has stopped reading.
  if (!c.stream || c.sendFailed) {
    c.sendFailed = true;
    return false;
  }
  if (c.gather) {
    c.sendBlock.append(text);
    return c.sendBlock.size() < kBlock || FlushSends();
  }
  if (!SendToStream(text.data(), text.size())) c.sendFailed = true;
  return !c.sendFailed;
}

// The whole of data to the stream; under watch in pieces, each reported.
bool CLineSocket::SendToStream(const char* data, size_t size, size_t skip, size_t counted) {
  CByteStream& stream = *m_connection.stream;
  if (!m_watcher) return stream.SendAll(data, size, m_timeouts.sendMs);
  constexpr size_t kPiece = 64 * 1024;
  const size_t countedEnd = counted > size - std::min(skip, size) ? size : skip + counted;
  for (size_t done = 0; done < size;) {
    const size_t piece = std::min(kPiece, size - done);
    if (!stream.SendAll(data + done, piece, m_timeouts.sendMs)) return false;
    const size_t from = std::max(done, std::min(skip, size));
    const size_t to = std::min(done + piece, countedEnd);
    done += piece;
    if (to > from) {
      m_watchedBytes += to - from;
      m_watcher->Sent(m_watchedBytes);
    }
  }
  return true;
}

void CLineSocket::WatchSends(CSendWatcher* watcher) {
  m_watcher = watcher;
  m_watchedBytes = 0;
  if (m_watcher) m_watcher->Sent(0);
}

void CLineSocket::GatherSends(bool on) {
  if (!on) FlushSends();
  m_connection.gather = on;
}

bool CLineSocket::FlushSends() {
  SConnection& c = m_connection;
  if (m_framer && !c.sendBlock.empty()) {
    return WriteFramed(std::exchange(c.sendBlock, std::string()),
                       std::exchange(m_traceBlock, std::string()));
  }
  if (c.sendBlock.empty()) {
    FlushTrace();
    return c.stream && !c.sendFailed;
  }
  // The block's trace is shown once the block has left; what never left
  // is not shown as sent.
  std::string trace = std::exchange(m_traceBlock, std::string());
  bool sent = c.stream && !c.sendFailed && NothingWaiting() &&
              SendToStream(c.sendBlock.data(), c.sendBlock.size());
  if (sent) {
    WriteTrace(trace);
  } else {
    c.sendFailed = true;
  }
  c.sendBlock.clear();
  return sent;
}

bool CLineSocket::WriteFramedBlock() {
  return WriteFramed(std::exchange(m_connection.sendBlock, std::string()),
                     std::exchange(m_traceBlock, std::string()));
}

// The block and its frame in one write, so that a last chunk and the
// command after it share a packet. Taken out of the connection before the
// framer runs: its reads flush sends.
bool CLineSocket::WriteFramed(std::string block, std::string trace) {
  SConnection& c = m_connection;
  const std::string header = m_framer->Header(block.size());
  const std::string trailer = m_framer->Trailer();
  std::string wire;
  wire.reserve(header.size() + block.size() + trailer.size());
  wire.append(header).append(block).append(trailer);
  block = std::string();
  const bool sent = c.stream && !c.sendFailed &&
                    SendToStream(wire.data(), wire.size(), header.size(),
                                 wire.size() - header.size() - trailer.size());
  if (!sent) {
    c.sendFailed = true;
    return false;
  }
  if (!m_quiet) {
    std::string shown = "--> " + header + trace;
    if (!trailer.empty()) shown += "--> " + trailer;
    WriteTrace(shown);
  }
  if (!m_framer->Written()) c.sendFailed = true;
  return !c.sendFailed;
}
