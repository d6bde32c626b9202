// One body part: its encoded lines and what the part writer announces.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class CByteSource;

// Ready-to-send lines in one contiguous buffer with an index, so that a large
// part costs its encoded bytes and one offset per line, not a heap block each.
class CLineList {
 public:
  void clear() {
    m_bytes.clear();
    m_ends.clear();
  }
  bool empty() const { return m_ends.empty(); }
  size_t size() const { return m_ends.size(); }
  std::string_view operator[](size_t i) const {
    size_t begin = i == 0 ? 0 : m_ends[i - 1];
    return std::string_view(m_bytes).substr(begin, m_ends[i] - begin);
  }
  // Appends one whole line (its line break included, as it goes on the wire).
  void push_back(std::string_view line) {
    m_bytes.append(line);
    m_ends.push_back(m_bytes.size());
  }
  // For encoders that write a line in pieces: append to the open line...
  void Append(std::string_view piece) { m_bytes.append(piece); }
  void Append(char c) { m_bytes.push_back(c); }
  // ...then close it.
  void EndLine() { m_ends.push_back(m_bytes.size()); }
  // Every byte of every line, in order.
  std::string_view Bytes() const { return m_bytes; }
  void Reserve(size_t bytes, size_t lines) {
    m_bytes.reserve(bytes);
    m_ends.reserve(lines);
  }

 private:
  std::string m_bytes;
  std::vector<size_t> m_ends;
};

class CMessagePart {
 public:
  // Each fills m_lines from the start of source. The first two may give up:
  // then they return false with the list empty and the source rewound.
  bool EncodeSevenBit(CByteSource& source, bool terminateLastLine);
  bool EncodeQuotedPrintable(CByteSource& source, bool mayGiveUp);
  bool EncodeBase64(CByteSource& source);
  bool EncodeUuencode(CByteSource& source);
  // Appends one encoded line (no line break), folded to 76 characters.
  void AddQuotedPrintableLine(std::string_view line, bool softBreak);

  CLineList m_lines;
  std::string m_contentType;
  std::string m_encoding;  // "7bit", "quoted-printable", "base64", "" for uuencode
  std::string m_fileName;
  std::string m_charset;
  bool m_attachment = false;
  bool m_uuencoded = false;
  bool m_withholdName = false;
};
