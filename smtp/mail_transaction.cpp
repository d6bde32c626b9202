// The mail transaction: envelope, data phase and the end of the data.
#include <string>

#include "mime/header_values.h"
#include "smtp/smtp_client.h"

bool CSmtpClient::SendMail() {
  // Before anything is sent, so that the header and every delimiter line
  // carry the same counter.
  if (!m_uuencodeMode) MakeBoundaryUnique();

  if (!NothingWaiting()) return false;
  // A CR or LF in an address would end the command and start another.
  SendFormatted("MAIL FROM:<%s>\r\n", NeutraliseLineBreaks(m_originatorAddress).c_str());
  if (!ReadReply("2")) return false;

  // The cursor only passes accepted recipients; one refusal stops them all.
  while (m_recipientCursor < static_cast<int>(m_recipients.size())) {
    SplitAddress(m_recipients[m_recipientCursor], m_recipientAddress, m_recipientName);
    if (!NothingWaiting()) return false;
    SendFormatted("RCPT TO:<%s>\r\n", NeutraliseLineBreaks(m_recipientAddress).c_str());
    if (!ReadReply("2")) return false;
    ++m_recipientCursor;
  }

  if (!NothingWaiting()) return false;
  SendFormatted("DATA\r\n");
  if (!ReadReply("354")) return false;
  if (!NothingWaiting()) return false;

  // The message goes out in large blocks rather than a send per line; the
  // read of the final reply writes what is left. Each block, the last with
  // the "." line, goes out only while the relay is silent.
  GatherSends(true);
  WriteHeaders();
  if (!m_uuencodeMode && m_parts.size() > 1) {
    std::string delimiter;
    FormatBoundary(delimiter);
    SendFormatted("\r\n%s\r\n", delimiter.c_str());
  }
  for (size_t i = 0; i < m_parts.size(); ++i) {
    // A file that changed since it was read ends the data unfinished: the
    // relay discards a message without its final ".", so a mixture of old
    // and new bytes is never delivered. The connection is closed by the
    // caller without another command.
    if (!SendPart(i)) return false;
  }

  SendFormatted(".\r\n");
  // The relay may take long to accept the data, hence the longer wait.
  const bool accepted = ReadReply("2", Timeouts().finalReplyMs);
  // A message that lost bytes on the way is not delivered, whatever the
  // relay answered.
  const bool sentWhole = FlushSends();
  GatherSends(false);
  return accepted && sentWhole;
}
