#include <cstdint>
#include <cstring>
#include <string_view>

#include "mime/byte_source.h"
#include "mime/message_part.h"

namespace {

// Content bytes of one line, its break not counted: SMTP limits a line to
// 1000 bytes including its CR LF, and relays refuse longer ones.
constexpr size_t kMaxLineBytes = 998;

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

bool IsSpecial(unsigned char c) { return c == '\r' || c == '\n' || c == 0 || c >= 0x80; }

// The length of the run of ordinary bytes at the start of text: up to the
// first CR, LF, NUL or byte above 0x7F. Eight bytes at a time, by a test
// that finds every byte below 0x0E or above 0x7F (a TAB or a form feed too,
// which the byte-wise look then passes).
size_t OrdinaryRun(const char* text, size_t size) {
  size_t i = 0;
  for (;;) {
    for (; i + 8 <= size; i += 8) {
      uint64_t w;
      std::memcpy(&w, text + i, 8);
      if (((w - kOnes * 0x0E) | w) & kHighBits) break;
    }
    const size_t stop = i + 8 < size ? i + 8 : size;
    for (; i < stop; ++i) {
      if (IsSpecial(static_cast<unsigned char>(text[i]))) return i;
    }
    if (i == size) return size;
  }
}

}  // namespace

// Passes text through unchanged as CR LF lines while testing that it may be
// sent so: a byte above 0x7F, a NUL (which would also cut the line on the
// wire) or a line over the limit declines it, rewinding the source. The open
// line is built in place in the list.
bool CMessagePart::EncodeSevenBit(CByteSource& source, bool terminateLastLine) {
  m_lines.clear();
  const bool standardInput = source.IsStandardInput();
  if (standardInput) source.SkipOpenBreak();
  auto giveUp = [&] {
    source.Rewind();
    m_lines.clear();
    return false;
  };
  if (long long size = source.SizeHint(); size > 0) {
    // LF-ended lines gain a byte each; the list grows past this if need be.
    const size_t bytes = static_cast<size_t>(size);
    m_lines.Reserve(bytes + bytes / 16 + 2, bytes / 32 + 1);
  }

  size_t lineLength = 0;
  for (;;) {
    std::string_view view = source.Peek();
    if (view.empty()) break;
    const size_t run = OrdinaryRun(view.data(), view.size());
    // Nothing that follows can bring the line back within the limit.
    lineLength += run;
    if (lineLength > kMaxLineBytes) return giveUp();
    m_lines.Append(view.substr(0, run));
    source.Skip(run);
    if (run == view.size()) continue;

    const int c = static_cast<unsigned char>(view[run]);
    if (c != '\r' && c != '\n') return giveUp();  // NUL or above 0x7F
    source.Skip(1);
    if (standardInput && m_lines.OpenLine() == ".") {
      source.LeaveBreakOpen(c);
      m_lines.DropOpenLine();
      lineLength = 0;
      break;
    }
    source.SkipRestOfBreak(c);
    m_lines.Append("\r\n");
    m_lines.EndLine();
    lineLength = 0;
  }
  if (lineLength > 0) {
    if (terminateLastLine) m_lines.Append("\r\n");
    m_lines.EndLine();
  }

  m_encoding = "7bit";
  m_uuencoded = false;
  return true;
}
