#include <array>
#include <string>
#include <string_view>

#include "mime/byte_source.h"
#include "mime/message_part.h"

namespace {

constexpr size_t kMaxLine = 76;  // characters before CR LF, a soft "=" included
// An open line longer than this is folded while it is still being read, so
// that a file without line breaks needs no buffer of its own size.
constexpr size_t kFoldWhileReading = 4096;
// Past both counts, with bytes still to come, the text is taken for binary.
constexpr size_t kGiveUpCharacters = 100;
constexpr size_t kGiveUpEscaped = 50;

constexpr std::array<bool, 256> kLiteral = [] {
  std::array<bool, 256> literal{};
  literal['\t'] = true;
  for (int c = 0x20; c <= 0x7E; ++c) literal[c] = c != '=';
  return literal;
}();

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Where a line too long for one piece is soft-broken: just after its last
// blank among the first 75 characters, else at 75, but never inside an
// "=XY" escape (every "=" in encoded text starts one).
size_t BreakPosition(std::string_view line) {
  constexpr size_t kMaxPiece = kMaxLine - 1;
  size_t p = kMaxPiece;
  for (size_t i = kMaxPiece; i > 0; --i) {
    if (IsBlank(line[i - 1])) {
      p = i;
      break;
    }
  }
  if (line[p - 1] == '=') {
    p -= 1;
  } else if (p >= 2 && line[p - 2] == '=') {
    p -= 2;
  }
  return p;
}

// Emits soft-broken pieces while what is left of line exceeds limit;
// returns how many characters of line they took.
size_t FoldLongPrefix(CLineList& lines, std::string_view line, size_t limit) {
  size_t done = 0;
  while (line.size() - done > limit) {
    size_t p = BreakPosition(line.substr(done));
    lines.Append(line.substr(done, p));
    lines.Append("=\r\n");
    lines.EndLine();
    done += p;
  }
  return done;
}

}  // namespace

void CMessagePart::AddQuotedPrintableLine(std::string_view line, bool softBreak) {
  // A soft-broken line carries its "=" within the limit.
  const size_t limit = softBreak ? kMaxLine - 1 : kMaxLine;
  std::string escapedBlank;
  for (;;) {
    line.remove_prefix(FoldLongPrefix(m_lines, line, limit));
    if (softBreak) {
      m_lines.Append(line);
      m_lines.Append("=\r\n");
      m_lines.EndLine();
      return;
    }
    // A blank before a hard break would be lost in transport: escape it, which
    // may push the line over the limit and fold it once more.
    if (!line.empty() && IsBlank(line.back())) {
      escapedBlank.assign(line.substr(0, line.size() - 1));
      escapedBlank.append(line.back() == ' ' ? "=20" : "=09");
      line = escapedBlank;
      continue;
    }
    m_lines.Append(line);
    m_lines.Append("\r\n");
    m_lines.EndLine();
    return;
  }
}

bool CMessagePart::EncodeQuotedPrintable(CByteSource& source, bool mayGiveUp) {
  m_lines.clear();
  const bool standardInput = source.IsStandardInput();
  if (standardInput) source.SkipOpenBreak();
  if (long long size = source.SizeHint(); size > 0) {
    // Text with a few escapes; the list grows past this if need be.
    const size_t bytes = static_cast<size_t>(size);
    m_lines.Reserve(bytes + bytes / 8 + 2, bytes / 32 + 1);
  }

  std::string line;
  line.reserve(kFoldWhileReading + 256);
  size_t characters = 0;  // over the whole source, line breaks not counted
  size_t escaped = 0;
  for (;;) {
    std::string_view view = source.Peek();
    if (view.empty()) break;
    const auto* bytes = reinterpret_cast<const unsigned char*>(view.data());
    size_t i = 0;
    bool lineBreak = false;
    while (i < view.size()) {
      // The give-up test comes before every byte that is handled; it can
      // only fire once more than 50 bytes have needed escaping.
      if (mayGiveUp && escaped > kGiveUpEscaped && characters > kGiveUpCharacters) {
        source.Rewind();
        m_lines.clear();
        return false;
      }
      const unsigned c = bytes[i];
      if (c == '\r' || c == '\n') {
        lineBreak = true;
        break;
      }
      if (kLiteral[c]) {
        // A run of literal bytes at once, or up to the byte at which the
        // give-up test must be made again.
        size_t end = i + 1;
        const size_t limit = mayGiveUp && escaped > kGiveUpEscaped ? end : view.size();
        while (end < limit && kLiteral[bytes[end]]) ++end;
        line.append(view.data() + i, end - i);
        characters += end - i;
        i = end;
      } else {
        ++characters;
        ++escaped;
        const char escape[3] = {'=', kHexDigits[c >> 4], kHexDigits[c & 0x0F]};
        line.append(escape, 3);
        ++i;
      }
      if (line.size() >= kFoldWhileReading) line.erase(0, FoldLongPrefix(m_lines, line, kMaxLine));
    }
    source.Skip(i);
    if (!lineBreak) continue;

    const int c = source.ReadByte();
    if (standardInput && line == ".") {
      source.LeaveBreakOpen(c);
      line.clear();
      break;
    }
    source.SkipRestOfBreak(c);
    AddQuotedPrintableLine(line, false);
    line.clear();
  }
  // A file's last line without a break ends in a soft break, so that the
  // decoded part ends where the file does.
  if (!line.empty()) AddQuotedPrintableLine(line, !standardInput);

  m_encoding = "quoted-printable";
  m_uuencoded = false;
  return true;
}
