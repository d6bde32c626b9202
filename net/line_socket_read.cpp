// Reading: the receive buffer, lines within kMaxLineLength and a reply within
// its deadline and kMaxReplyLength, and the check that nothing waits unread.
#include <cstring>
#include <string>
#include <utility>

#include "net/line_socket.h"
#include "net/line_socket_parts.h"

using line_socket::IsBreak;
using line_socket::kCr;
using line_socket::kLf;

namespace {

constexpr size_t kReceiveChunk = 512;

}  // namespace

long CLineSocket::FillBuffer() {
  // The peer answers only what it has been sent.
  FlushSends();
  SConnection& c = m_connection;
  if (!c.stream) return CByteStream::kReceiveError;
  while (c.receiveBuffer.size() - c.filled < kReceiveChunk) {
    c.receiveBuffer.resize(c.receiveBuffer.size() + 1024);
  }
  long received = CByteStream::kReceiveTimeout;
  const int wait = c.readDeadline.IsSet() ? c.readDeadline.RemainingMs() : m_timeouts.replyMs;
  // Past the deadline nothing more is read, even when bytes wait: a peer
  // that keeps talking must not hold the reply open.
  if (!c.readDeadline.IsSet() || wait > 0) {
    received = c.stream->Receive(&c.receiveBuffer[c.filled], kReceiveChunk, wait);
  }
  if (received > 0) {
    c.filled += static_cast<size_t>(received);
  } else if (received == CByteStream::kReceiveTimeout) {
    c.readFailed = true;
    Trace("Timed out waiting for %s\n", PeerName());
  }
  return received;
}

int CLineSocket::ReadByte() {
  SConnection& c = m_connection;
  if (c.inputEnded) return -1;
  if (c.readPosition >= c.filled) {
    c.readPosition = 0;
    c.filled = 0;
    // Whatever ended input (close, error, timeout), nothing more is read.
    if (FillBuffer() <= 0) {
      c.inputEnded = true;
      return -1;
    }
  }
  return static_cast<unsigned char>(c.receiveBuffer[c.readPosition++]);
}

void CLineSocket::UnreadByte(int) {
  if (m_connection.readPosition > 0) --m_connection.readPosition;
}

long CLineSocket::ReadLine(std::string& line) {
  SConnection& c = m_connection;
  line.clear();
  // What is gathered goes out first: its check for unasked bytes must still
  // know that the rest of the last line end may follow.
  FlushSends();
  bool dropBreak = std::exchange(c.dropLeadingBreak, false);
  for (;;) {
    if (!dropBreak) TakeLineBytes(line);
    int byte = ReadByte();
    if (byte < 0) {
      // A line cut short by a timeout is not a reply; one cut by the peer's
      // close is handed out as it is.
      if (c.readFailed) line.clear();
      if (line.empty()) return -1;
      break;
    }
    if (dropBreak) {
      dropBreak = false;
      if (IsBreak(byte)) continue;
    }
    if (IsBreak(byte)) {
      // The companion byte of the line end is taken only when it is already
      // here; waiting for it would stall on a peer that ends lines with LF.
      if (c.readPosition < c.filled) {
        int next = ReadByte();
        if (!IsBreak(next)) UnreadByte(next);
      } else {
        c.dropLeadingBreak = true;
      }
      break;
    }
    const bool longLine = line.size() >= kMaxLineLength;
    if (longLine || (c.inReply && c.replyBytes >= kMaxReplyLength)) {
      if (longLine) {
        Trace("Line longer than %zu bytes received\n", kMaxLineLength);
      } else {
        Trace("Reply longer than %zu bytes received\n", kMaxReplyLength);
      }
      c.inputEnded = true;
      c.readFailed = true;
      line.clear();
      return -1;
    }
    line.push_back(static_cast<char>(byte));
    ++c.replyBytes;
  }
  TraceReceived(line);
  return static_cast<long>(line.size());
}

// Moves the held bytes up to the next line end into line at once, within
// the line and reply bounds; the byte loop of ReadLine does the rest.
void CLineSocket::TakeLineBytes(std::string& line) {
  SConnection& c = m_connection;
  if (c.readPosition >= c.filled) return;
  const char* begin = c.receiveBuffer.data() + c.readPosition;
  size_t run = c.filled - c.readPosition;
  if (const void* cr = std::memchr(begin, kCr, run)) {
    run = static_cast<size_t>(static_cast<const char*>(cr) - begin);
  }
  if (const void* lf = std::memchr(begin, kLf, run)) {
    run = static_cast<size_t>(static_cast<const char*>(lf) - begin);
  }
  const size_t lineRoom = line.size() < kMaxLineLength ? kMaxLineLength - line.size() : 0;
  if (run > lineRoom) run = lineRoom;
  if (c.inReply) {
    const size_t replyRoom = c.replyBytes < kMaxReplyLength ? kMaxReplyLength - c.replyBytes : 0;
    if (run > replyRoom) run = replyRoom;
  }
  line.append(begin, run);
  c.readPosition += run;
  c.replyBytes += run;
}

bool CLineSocket::NothingWaiting() {
  SConnection& c = m_connection;
  if (c.readPosition >= c.filled && !c.inputEnded && c.stream) {
    c.readPosition = 0;
    c.filled = 0;
    if (c.receiveBuffer.size() < kReceiveChunk) c.receiveBuffer.resize(kReceiveChunk);
    const long received = c.stream->Receive(c.receiveBuffer.data(), kReceiveChunk, 0);
    if (received > 0) {
      c.filled = static_cast<size_t>(received);
    } else if (received != CByteStream::kReceiveTimeout) {
      // Closed or broken: nothing waits, and the next read ends at once.
      c.inputEnded = true;
    }
  }
  // The second byte of a line end split across receives is no answer.
  if (c.dropLeadingBreak && c.readPosition < c.filled &&
      IsBreak(static_cast<unsigned char>(c.receiveBuffer[c.readPosition]))) {
    ++c.readPosition;
    c.dropLeadingBreak = false;
    return NothingWaiting();
  }
  if (c.readPosition >= c.filled) return true;
  Trace("%s replied before it was asked\n", PeerName());
  return false;
}
