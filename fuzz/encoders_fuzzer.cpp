// Arbitrary bytes through the four transfer encoders, decoded again here.
//
// Input: one flag byte, then the source bytes. Flag bits: 0 the source is
// read like the standard input (a "." line ends it), 1 terminateLastLine for
// 7bit, 2 mayGiveUp for quoted-printable.
//
// Oracles: base64 and uuencode decode to the source byte for byte; 7bit and
// quoted-printable decode to the source with its line breaks made CR LF (the
// one canonicalisation text gets); 7bit is refused exactly when a byte is
// above 0x7F or NUL or a line exceeds 998 bytes (SMTP's 1000 with the CR LF),
// and no line it passes does;
// quoted-printable gives up exactly when, before a further byte, more than
// 100 characters were read and more than 50 needed escaping, and none of its
// lines exceeds 76 characters; a refusal leaves the source at its first byte,
// so the next encoder of the chain reads it whole.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "mime/byte_source.h"
#include "mime/message_part.h"
#include "support/decoders.h"
#include "support/memory_source.h"

namespace {

constexpr size_t kMaxSevenBitLine = 998;

bool IsBreak(int c) { return c == '\r' || c == '\n'; }
bool IsQpLiteral(unsigned char c) { return c == '\t' || (c >= 0x20 && c <= 0x7E && c != '='); }

// The source as a text encoder must see it.
struct TextModel {
  std::vector<std::string> lines;
  bool lastTerminated = true;  // false when the source ends inside a line
  size_t handledBytes = 0;     // bytes of the source that are read at all
  bool qpGivesUp = false;      // the quoted-printable give-up test fires
};

TextModel ModelText(const std::string& bytes, bool standardInput) {
  TextModel model;
  std::string line;
  size_t characters = 0;
  size_t escaped = 0;
  size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char c = static_cast<unsigned char>(bytes[i++]);
    // The give-up test runs before each byte the encoder handles; the bytes
    // that complete a line break belong to the break already handled.
    if (characters > 100 && escaped > 50) model.qpGivesUp = true;
    if (IsBreak(c)) {
      if (standardInput && line == ".") {
        line.clear();
        break;
      }
      const char other = c == '\r' ? '\n' : '\r';
      while (i < bytes.size() && bytes[i] == other) ++i;
      model.lines.push_back(line);
      line.clear();
      continue;
    }
    ++characters;
    if (!IsQpLiteral(c)) ++escaped;
    line.push_back(static_cast<char>(c));
  }
  model.handledBytes = i;
  if (!line.empty()) {
    model.lines.push_back(line);
    model.lastTerminated = false;
  }
  return model;
}

void CheckRewound(CByteSource& source, const std::string& bytes) {
  FUZZ_CHECK(source.ReadByte() == (bytes.empty() ? -1 : static_cast<unsigned char>(bytes[0])));
  source.Rewind();
}

void CheckSevenBit(const CMessagePart& part, bool accepted, const TextModel& model,
                   const std::string& bytes, bool terminateLastLine) {
  bool fits = true;
  for (size_t i = 0; i < model.handledBytes; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == 0 || c >= 0x80) fits = false;
  }
  for (const std::string& line : model.lines) {
    if (line.size() > kMaxSevenBitLine) fits = false;
  }
  FUZZ_CHECK(accepted == fits);
  if (!accepted) {
    FUZZ_CHECK(part.m_lines.empty());
    return;
  }
  FUZZ_CHECK(part.m_encoding == "7bit" && !part.m_uuencoded);
  FUZZ_CHECK(part.m_lines.size() == model.lines.size());
  for (size_t i = 0; i < model.lines.size(); ++i) {
    const bool last = i + 1 == model.lines.size();
    std::string expected = model.lines[i];
    if (!last || model.lastTerminated || terminateLastLine) expected += "\r\n";
    FUZZ_CHECK(part.m_lines[i] == expected);
  }
}

// A file's last line without a break decodes without one (a soft break);
// the typed text's keeps its hard break.
void CheckQuotedPrintable(const CMessagePart& part, const TextModel& model,
                          bool standardInput) {
  FUZZ_CHECK(part.m_encoding == "quoted-printable" && !part.m_uuencoded);
  std::string decoded, fault;
  FUZZ_CHECK(DecodeQuotedPrintable(part.m_lines, decoded, fault));
  std::string expected;
  for (size_t i = 0; i < model.lines.size(); ++i) {
    const bool open = i + 1 == model.lines.size() && !model.lastTerminated && !standardInput &&
                      !model.lines[i].empty();
    expected += model.lines[i] + (open ? "" : "\r\n");
  }
  FUZZ_CHECK(decoded == expected);
}

void CheckBase64(const CMessagePart& part, const std::string& bytes) {
  FUZZ_CHECK(part.m_encoding == "base64" && !part.m_uuencoded);
  std::string decoded, fault;
  FUZZ_CHECK(DecodeBase64(part.m_lines, decoded, fault));
  FUZZ_CHECK(decoded == bytes);
}

void CheckUuencode(const CMessagePart& part, const std::string& bytes) {
  FUZZ_CHECK(part.m_encoding.empty() && part.m_uuencoded);
  std::string decoded, fault;
  FUZZ_CHECK(DecodeUuencode(part.m_lines, decoded, fault));
  FUZZ_CHECK(decoded == bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool standardInput = data[0] & 1;
  const bool terminateLastLine = data[0] & 2;
  const bool mayGiveUp = data[0] & 4;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const TextModel model = ModelText(bytes, standardInput);

  // The chain of a file in a MIME message: 7bit, then quoted-printable, then
  // base64, all on the one source.
  {
    CMemorySource source(bytes, standardInput);
    CMessagePart part;
    const bool sevenBit = part.EncodeSevenBit(source, terminateLastLine);
    CheckSevenBit(part, sevenBit, model, bytes, terminateLastLine);
    if (!sevenBit) {
      CheckRewound(source, bytes);
      const bool quoted = part.EncodeQuotedPrintable(source, mayGiveUp);
      FUZZ_CHECK(quoted == !(mayGiveUp && model.qpGivesUp));
      if (quoted) {
        CheckQuotedPrintable(part, model, standardInput);
      } else {
        FUZZ_CHECK(part.m_lines.empty());
        CheckRewound(source, bytes);
        // Files only: the standard input is never rewound for base64.
        if (!standardInput) {
          part.EncodeBase64(source);
          CheckBase64(part, bytes);
        }
      }
    }
  }
  // Each encoder alone on a fresh source.
  {
    CMemorySource source(bytes, standardInput);
    CMessagePart part;
    FUZZ_CHECK(part.EncodeQuotedPrintable(source, false));
    CheckQuotedPrintable(part, model, standardInput);
  }
  {
    CMemorySource source(bytes);
    CMessagePart part;
    FUZZ_CHECK(part.EncodeBase64(source));
    CheckBase64(part, bytes);
  }
  {
    CMemorySource source(bytes);
    CMessagePart part;
    FUZZ_CHECK(part.EncodeUuencode(source));
    CheckUuencode(part, bytes);
  }
  return 0;
}
