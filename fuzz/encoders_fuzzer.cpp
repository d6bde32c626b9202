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
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "mime/byte_source.h"
#include "mime/message_part.h"
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

bool EndsWithCrLf(std::string_view line) {
  return line.size() >= 2 && line.substr(line.size() - 2) == "\r\n";
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

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes strictly: anything a conforming encoder would not write fails.
void CheckQuotedPrintable(const CMessagePart& part, const TextModel& model) {
  FUZZ_CHECK(part.m_encoding == "quoted-printable" && !part.m_uuencoded);
  std::string decoded;
  for (size_t i = 0; i < part.m_lines.size(); ++i) {
    std::string_view line = part.m_lines[i];
    FUZZ_CHECK(EndsWithCrLf(line));
    line.remove_suffix(2);
    FUZZ_CHECK(line.size() <= 76);
    // An escape ends in a hex digit, so a final "=" is a soft break.
    const bool soft = !line.empty() && line.back() == '=';
    if (soft) line.remove_suffix(1);
    // A blank before a hard break would be lost in transport.
    if (!soft && !line.empty()) FUZZ_CHECK(line.back() != ' ' && line.back() != '\t');
    for (size_t j = 0; j < line.size(); ++j) {
      const char c = line[j];
      if (c != '=') {
        FUZZ_CHECK(IsQpLiteral(static_cast<unsigned char>(c)));
        decoded.push_back(c);
        continue;
      }
      FUZZ_CHECK(j + 2 < line.size());
      const int high = HexValue(line[j + 1]);
      const int low = HexValue(line[j + 2]);
      FUZZ_CHECK(high >= 0 && low >= 0);
      decoded.push_back(static_cast<char>(high * 16 + low));
      j += 2;
    }
    if (!soft) decoded += "\r\n";
  }
  std::string expected;
  for (const std::string& line : model.lines) expected += line + "\r\n";
  FUZZ_CHECK(decoded == expected);
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

void CheckBase64(const CMessagePart& part, const std::string& bytes) {
  FUZZ_CHECK(part.m_encoding == "base64" && !part.m_uuencoded);
  std::string decoded;
  for (size_t i = 0; i < part.m_lines.size(); ++i) {
    std::string_view line = part.m_lines[i];
    FUZZ_CHECK(EndsWithCrLf(line));
    line.remove_suffix(2);
    // Every line but the last carries 57 bytes.
    FUZZ_CHECK(i + 1 == part.m_lines.size() ? line.size() <= 76 && !line.empty()
                                            : line.size() == 76);
    FUZZ_CHECK(line.size() % 4 == 0);
    for (size_t g = 0; g < line.size(); g += 4) {
      const bool lastGroup = i + 1 == part.m_lines.size() && g + 4 == line.size();
      const int pad = line[g + 3] != '=' ? 0 : line[g + 2] == '=' ? 2 : 1;
      FUZZ_CHECK(pad == 0 || lastGroup);
      unsigned value = 0;
      for (int k = 0; k < 4 - pad; ++k) {
        const int v = Base64Value(line[g + k]);
        FUZZ_CHECK(v >= 0);
        value = value << 6 | static_cast<unsigned>(v);
      }
      value <<= 6 * pad;
      // The bits beyond the real bytes are zero.
      FUZZ_CHECK((value & ((1u << (8 * pad)) - 1)) == 0);
      for (int k = 0; k < 3 - pad; ++k) decoded.push_back(static_cast<char>(value >> (16 - 8 * k)));
    }
  }
  FUZZ_CHECK(decoded == bytes);
}

void CheckUuencode(const CMessagePart& part, const std::string& bytes) {
  FUZZ_CHECK(part.m_encoding.empty() && part.m_uuencoded);
  auto value = [](char c) {
    FUZZ_CHECK(c >= 0x21 && c <= 0x60);
    return static_cast<unsigned>(c - 0x20) & 0x3F;
  };
  std::string decoded;
  for (size_t i = 0; i < part.m_lines.size(); ++i) {
    std::string_view line = part.m_lines[i];
    FUZZ_CHECK(EndsWithCrLf(line));
    line.remove_suffix(2);
    FUZZ_CHECK(!line.empty());
    const unsigned count = value(line[0]);
    FUZZ_CHECK(count >= 1 && count <= 45);
    FUZZ_CHECK(i + 1 == part.m_lines.size() || count == 45);
    FUZZ_CHECK(line.size() == 1 + (count + 2) / 3 * 4);
    std::string block;
    for (size_t g = 1; g < line.size(); g += 4) {
      const unsigned v = value(line[g]) << 18 | value(line[g + 1]) << 12 |
                         value(line[g + 2]) << 6 | value(line[g + 3]);
      block.push_back(static_cast<char>(v >> 16));
      block.push_back(static_cast<char>(v >> 8));
      block.push_back(static_cast<char>(v));
    }
    decoded += block.substr(0, count);
  }
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
        CheckQuotedPrintable(part, model);
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
    CheckQuotedPrintable(part, model);
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
