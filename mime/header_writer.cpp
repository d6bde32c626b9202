// The message header block and the MIME boundary.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "base/ascii_text.h"
#include "mime/boundary.h"
#include "mime/charset_table.h"
#include "mime/header_fields.h"
#include "mime/header_values.h"
#include "platform/code_page.h"
#include "smtp/smtp_client.h"

bool CSmtpClient::WriteHeaders() {
  // Every value is written with its CR and LF bytes as blanks: a line break
  // inside a value would start a field of its own, or end the data.
  const std::string charset = HeaderCharsetName();
  SendHeaderLine(FormatAddressLine("From: ", NeutraliseLineBreaks(m_originatorName),
                                   " <" + NeutraliseLineBreaks(m_originatorAddress) + ">",
                                   charset));

  const int count = static_cast<int>(m_recipients.size());
  if (m_ccStart == kUnsetStart) m_ccStart = count;
  if (m_bccStart == kUnsetStart) m_bccStart = count;
  // Clamped so that starts set by hand (or out of order) still give each
  // entry exactly one role.
  const int toEnd = std::clamp(std::min(m_ccStart, m_bccStart), 0, count);
  const int ccEnd = std::clamp(m_bccStart, toEnd, count);

  for (int i = 0; i < count; ++i) {
    SplitAddress(m_recipients[i], m_recipientAddress, m_recipientName);
    const char* prefix;
    const char* suffix;
    if (i < toEnd) {
      prefix = i == 0 ? "To: " : "    ";
      suffix = i < toEnd - 1 ? "," : "";
    } else if (i < ccEnd) {
      prefix = i == toEnd ? "Cc: " : "    ";
      suffix = i < ccEnd - 1 ? "," : "";
    } else {
      continue;  // Bcc: only the envelope names them
    }
    SendHeaderLine(FormatAddressLine(
        prefix, NeutraliseLineBreaks(m_recipientName),
        " <" + NeutraliseLineBreaks(m_recipientAddress) + ">" + suffix, charset));
  }

  if (!m_replyTo.empty()) {
    SendHeaderLine(FormatAddressField("Reply-To: ", NeutraliseLineBreaks(m_replyTo), charset));
  }
  if (!m_subject.empty()) {
    SendHeaderLine(FormatTextField("Subject: ", NeutraliseLineBreaks(m_subject), charset));
  }
  SendFormatted("X-Mailer: Tarnvale SMTP Class\r\n");

  // A message needs a Date, and relays reject one without a Message-ID.
  if (!m_stamp) m_stamp = m_environment.MessageStamp();
  const SMessageStamp& stamp = *m_stamp;
  SendFormatted("Date: %s\r\n", FormatDateTime(stamp.time).c_str());
  std::string domain =
      NeutraliseLineBreaks(MessageIdDomain(m_originatorAddress, GetLocalHostName()));
  SendFormatted("Message-ID: %s\r\n", FormatMessageId(stamp, domain).c_str());
  for (const SExtraField& field : m_options.extraFields) {
    SendHeaderLine(FormatTextField(field.name + ": ", NeutraliseLineBreaks(field.value),
                                   field.charset.empty() ? charset : field.charset));
  }

  if (m_uuencodeMode) {
    // RFC 1154: one "count TYPE" item per part; a uuencoded part counts its
    // "begin" and "end" lines too.
    SendFormatted("Encoding: ");
    const char* separator = "";
    for (const CMessagePart& part : m_parts) {
      const uint64_t lines = part.LineCount() + (part.m_uuencoded ? 2 : 0);
      SendFormatted("%s%lu %s", separator, static_cast<unsigned long>(lines),
                    part.m_uuencoded ? "UUENCODE" : "TEXT");
      separator = ", ";
    }
    SendFormatted("\r\n\r\n");
    return true;
  }

  SendFormatted("MIME-Version: 1.0\r\n");
  // One part continues this block with its own fields; none leaves it as is.
  if (m_parts.size() > 1) {
    std::string delimiter;
    FormatBoundary(delimiter);
    SendFormatted("Content-Type: multipart/mixed; boundary=\"%s\"\r\n",
                  delimiter.c_str() + 2);
    SendFormatted("\r\n");
  }
  return true;
}

std::string CSmtpClient::HeaderCharsetName() const {
  return m_headerCharset.empty()
             ? DefaultCharset(platform::DefaultCodePage(), platform::LocaleCodeSet())
             : m_headerCharset;
}

void CSmtpClient::SendHeaderLine(const std::string& line) {
  SendFormatted("%s\r\n", line.c_str());
}

void CSmtpClient::FormatBoundary(std::string& delimiter) const {
  delimiter = FormatDelimiter(m_boundaryCounter, m_boundaryText);
}

namespace {

// Notes the 7bit lines of parts and of the parts they hold.
void NoteSevenBitLines(const std::vector<CMessagePart>& parts, CBoundaryCounters& taken) {
  for (const CMessagePart& part : parts) {
    NoteSevenBitLines(part.m_children, taken);
    // Only 7bit lines can hold a delimiter: quoted-printable writes "=" as
    // "=3D" and base64 has no "[".
    if (!EqualsIgnoringCase(part.m_encoding, "7bit")) continue;
    if (part.m_plan) taken.NoteTaken(part.m_plan->boundaryCounters);
    for (size_t i = 0; i < part.m_lines.size(); ++i) taken.NoteLine(part.m_lines[i]);
  }
}

// Gives every multipart part, outer ones first, a counter of its own: the
// next free one after the counter before it. The first takes the message's
// counter when the message itself is not multipart/mixed.
void NumberMultiparts(std::vector<CMessagePart>& parts, const CBoundaryCounters& taken,
                      uint32_t& last, bool& lastUsed) {
  for (CMessagePart& part : parts) {
    if (!part.IsMultipart()) continue;
    part.m_boundaryCounter = lastUsed ? taken.FirstFree(last + 1) : last;
    last = part.m_boundaryCounter;
    lastUsed = true;
    NumberMultiparts(part.m_children, taken, last, lastUsed);
  }
}

}  // namespace

bool CSmtpClient::IsBoundaryUnique() const {
  CBoundaryCounters taken(m_boundaryText);
  NoteSevenBitLines(m_parts, taken);
  return taken.FirstFree(m_boundaryCounter) == m_boundaryCounter;
}

void CSmtpClient::MakeBoundaryUnique() {
  CBoundaryCounters taken(m_boundaryText);
  NoteSevenBitLines(m_parts, taken);
  m_boundaryCounter = taken.FirstFree(m_boundaryCounter);
  uint32_t last = m_boundaryCounter;
  bool lastUsed = m_parts.size() > 1;
  NumberMultiparts(m_parts, taken, last, lastUsed);
}
