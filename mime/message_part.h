// One body part: its encoded lines and what the part writer announces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mime/line_list.h"
#include "mime/part_plan.h"
#include "mime/text_spool.h"

class CByteSource;

class CMessagePart {
 public:
  // Each fills m_lines from the start of source. The first two may give up:
  // then they return false with the list empty and the source rewound. A
  // read error ends the source as its end would and the encoder returns
  // true with what it read: check source.Failed() after every call.
  bool EncodeSevenBit(CByteSource& source, bool terminateLastLine);
  bool EncodeQuotedPrintable(CByteSource& source, bool mayGiveUp);
  bool EncodeBase64(CByteSource& source);
  bool EncodeUuencode(CByteSource& source);
  // Appends one encoded line (no line break), folded to 76 characters.
  void AddQuotedPrintableLine(std::string_view line, bool softBreak);

  // The lines a part sends: those held, or for a planned file as many as
  // the plan found.
  uint64_t LineCount() const {
    return m_plan ? m_plan->lineCount : m_spool ? m_spool->LineCount() : m_lines.size();
  }

  CLineList m_lines;  // empty for a planned file, which is encoded as it is sent
  // A large message text's lines, when they went to a file instead of m_lines.
  std::shared_ptr<CTextSpool> m_spool;
  std::optional<SPartPlan> m_plan;
  std::string m_contentType;
  std::string m_encoding;  // "7bit", "quoted-printable", "base64", "" for uuencode
  std::string m_fileName;
  std::string m_charset;
  bool m_attachment = false;
  bool m_uuencoded = false;
  bool m_withholdName = false;
  // For a file shown inside an HTML part: its Content-ID, without brackets.
  std::string m_contentId;
  // A multipart part (m_contentType "multipart/alternative" or
  // "multipart/related") holds its parts here and no lines; its delimiter
  // carries m_boundaryCounter, set when the message's boundary is made
  // unique.
  std::vector<CMessagePart> m_children;
  uint32_t m_boundaryCounter = 0;
  bool IsMultipart() const { return !m_children.empty(); }
};
