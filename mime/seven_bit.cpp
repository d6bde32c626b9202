#include <string>
#include <string_view>

#include "mime/byte_source.h"
#include "mime/message_part.h"

namespace {

// Content bytes of one line, its break not counted: SMTP limits a line to
// 1000 bytes including its CR LF, and relays refuse longer ones.
constexpr size_t kMaxLineBytes = 998;

void AddLine(CLineList& lines, std::string_view content, bool withBreak) {
  lines.Append(content);
  if (withBreak) lines.Append("\r\n");
  lines.EndLine();
}

}  // namespace

// Passes text through unchanged as CR LF lines while testing that it may be
// sent so: a byte above 0x7F, a NUL (which would also cut the line on the
// wire) or a line over the limit declines it, rewinding the source.
bool CMessagePart::EncodeSevenBit(CByteSource& source, bool terminateLastLine) {
  m_lines.clear();
  const bool standardInput = source.IsStandardInput();
  if (standardInput) source.SkipOpenBreak();
  auto giveUp = [&] {
    source.Rewind();
    m_lines.clear();
    return false;
  };

  std::string line;
  line.reserve(kMaxLineBytes + 1);
  for (int c; (c = source.ReadByte()) >= 0;) {
    if (c == '\r' || c == '\n') {
      if (standardInput && line == ".") {
        source.LeaveBreakOpen(c);
        line.clear();
        break;
      }
      source.SkipRestOfBreak(c);
      AddLine(m_lines, line, true);
      line.clear();
      continue;
    }
    if (c == 0 || c >= 0x80) return giveUp();
    line.push_back(static_cast<char>(c));
    // Nothing that follows can bring the line back within the limit.
    if (line.size() > kMaxLineBytes) return giveUp();
  }
  if (!line.empty()) AddLine(m_lines, line, terminateLastLine);

  m_encoding = "7bit";
  m_uuencoded = false;
  return true;
}
