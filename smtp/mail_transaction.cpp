// The mail transaction: envelope, data phase and the end of the data.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mime/header_values.h"
#include "smtp/smtp_client.h"

std::string CSmtpClient::MailFromCommand(const std::string& address) {
  // A CR or LF in an address would end the command and start another.
  return "MAIL FROM:<" + NeutraliseLineBreaks(address) + ">";
}

std::string CSmtpClient::RcptToCommand(const std::string& address) {
  return "RCPT TO:<" + NeutraliseLineBreaks(address) + ">";
}

bool CSmtpClient::SendMail() {
  if (!FitsRelayLimit()) return false;

  if (!NothingWaiting()) return false;
  SendFormatted("%s\r\n", MailFromCommand(m_originatorAddress).c_str());
  if (!ReadReply("2")) return false;

  // The cursor only passes accepted recipients; one refusal stops them all.
  while (m_recipientCursor < static_cast<int>(m_recipients.size())) {
    SplitAddress(m_recipients[m_recipientCursor], m_recipientAddress, m_recipientName);
    if (!NothingWaiting()) return false;
    SendFormatted("%s\r\n", RcptToCommand(m_recipientAddress).c_str());
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
  WatchSends(m_dataWatcher);
  // A file that changed since it was read ends the data unfinished: the
  // relay discards a message without its final ".", so a mixture of old and
  // new bytes is never delivered. The connection is closed by the caller
  // without another command.
  if (!WriteMessageData()) {
    WatchSends(nullptr);
    return false;
  }
  SendFormatted(kEndOfData);
  // The relay may take long to accept the data, hence the longer wait.
  const bool accepted = ReadReply("2", Timeouts().finalReplyMs);
  // A message that lost bytes on the way is not delivered, whatever the
  // relay answered.
  const bool sentWhole = FlushSends();
  WatchSends(nullptr);
  GatherSends(false);
  return accepted && sentWhole;
}

bool CSmtpClient::WriteMessageData() {
  // Before anything is written, so that the header and every delimiter line
  // carry the same counter.
  if (!m_uuencodeMode) MakeBoundaryUnique();
  WriteHeaders();
  if (!m_uuencodeMode && m_parts.size() > 1) {
    std::string delimiter;
    FormatBoundary(delimiter);
    SendFormatted("\r\n%s\r\n", delimiter.c_str());
  }
  for (size_t i = 0; i < m_parts.size(); ++i) {
    if (!SendPart(i)) return false;
  }
  return true;
}

uint64_t CSmtpClient::CountMessageData() {
  class CCounter : public CTextSink {
   public:
    void Write(std::string_view text) override { bytes += text.size(); }
    uint64_t bytes = 0;
  } counter;
  DivertSends(&counter);
  WriteMessageData();
  DivertSends(nullptr);
  return counter.bytes;
}

uint64_t CSmtpClient::MessageDataSize() { return CountMessageData() + sizeof kEndOfData - 1; }

uint64_t CSmtpClient::MessageSize() {
  const bool stuffing = m_dotStuffing;
  m_dotStuffing = false;
  const uint64_t size = CountMessageData();
  m_dotStuffing = stuffing;
  return size;
}

bool CSmtpClient::FitsRelayLimit() {
  // Only keywords read over TLS are trusted; a relay's SIZE (RFC 1870) saves
  // uploading what it is bound to refuse.
  if (m_tlsMode == kNoTls) return true;
  const auto size = m_ehloKeywords.find("SIZE");
  if (size == m_ehloKeywords.end()) return true;
  const char* text = size->second.c_str();
  char* end = nullptr;
  const unsigned long long limit = std::strtoull(text, &end, 10);
  if (end == text || limit == 0 || (*text < '0' || *text > '9')) return true;
  const unsigned long long data = MessageSize();
  if (data <= limit) return true;
  m_failureLine = "The message (" + std::to_string(data) +
                  " bytes) is larger than the relay accepts (" + std::to_string(limit) +
                  " bytes)\n";
  return false;
}
