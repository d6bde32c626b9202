// The mail transaction: envelope, data phase and the end of the data.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mime/header_values.h"
#include "smtp/bdat_framer.h"
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
  // The meter's total was counted for DATA, before the relay was known.
  if (UsesChunking() && m_options.dataWatcher) m_options.dataWatcher->Expect(MessageDataSize());
  std::vector<int> pending;
  for (int i = m_recipientCursor; i < static_cast<int>(m_recipients.size()); ++i) {
    pending.push_back(i);
  }
  // A relay that caps the recipients of one transaction answers the rest
  // with 452 (RFC 5321 section 4.5.3.1.10): they get the same message in
  // the next transaction on this connection, until none is left.
  // --max-recipients splits before the relay has to refuse.
  const size_t limit = m_options.maxRecipients > 0 ? static_cast<size_t>(m_options.maxRecipients)
                                                   : pending.size();
  while (true) {
    const size_t taken = std::min(limit, pending.size());
    const std::vector<int> batch(pending.begin(), pending.begin() + static_cast<long>(taken));
    std::vector<int> deferred;
    bool dataSent = false;
    if (!SendEnvelope(batch, deferred, dataSent)) return false;
    // With PIPELINING the last transaction's end of data and QUIT go
    // together (not under --progress, which counts the data alone).
    const bool last = deferred.empty() && taken == pending.size();
    const bool quitAfter = last && OffersPipelining() && !m_options.dataWatcher;
    if (!(UsesChunking() ? SendChunks(quitAfter) : SendData(dataSent, quitAfter))) return false;
    deferred.insert(deferred.end(), pending.begin() + static_cast<long>(taken), pending.end());
    if (deferred.empty()) return true;
    pending = std::move(deferred);
  }
}

bool CSmtpClient::SendData(bool dataSent, bool quitAfter) {
  m_outcome.stage = RunStage::kData;
  if (!dataSent) {
    if (!NothingWaiting()) return false;
    SendFormatted("DATA\r\n");
  }
  if (!ReadReply("354")) return false;
  if (!NothingWaiting()) return false;

  // The message goes out in large blocks rather than a send per line; the
  // read of the final reply writes what is left. Each block, the last with
  // the "." line, goes out only while the relay is silent.
  GatherSends(true);
  WatchSends(m_options.dataWatcher);
  const uint64_t before = BytesTaken();
  // A file that changed since it was read ends the data unfinished: the
  // relay discards a message without its final ".", so a mixture of old and
  // new bytes is never delivered. The connection is closed by the caller
  // without another command.
  if (!WriteMessageData()) {
    m_outcome.dataBytes += BytesTaken() - before;
    WatchSends(nullptr);
    return false;
  }
  // A "." refused because an earlier send failed never left: the relay
  // cannot take the message. Alone at the end of the last block, it left
  // only if that block did (written now, as the wait for the reply would).
  // Otherwise the relay may deliver the message whatever else happens.
  bool ended = SendFormatted(kEndOfData);
  if (ended && !quitAfter) ended = FlushSends();
  if (ended) {
    m_outcome.stage = RunStage::kEndOfData;
    m_outcome.dataEnded = true;
    m_outcome.finalReplyCame = false;
  }
  m_outcome.dataBytes += BytesTaken() - before;
  if (quitAfter) {
    SendFormatted("QUIT\r\n");
    m_quitSent = true;
  }
  // The relay may take long to accept the data, hence the longer wait.
  const bool accepted = ReadReply("2", Timeouts().finalReplyMs);
  return EndData(ended, true, accepted);
}

bool CSmtpClient::EndData(bool ended, bool replied, bool accepted) {
  if (ended) {
    m_outcome.finalReplyCame = replied && !m_outcome.reply.empty();
    m_outcome.finalReply = m_outcome.reply;
  }
  // A message that lost bytes on the way is not delivered, whatever the
  // relay answered.
  const bool sentWhole = FlushSends();
  WatchSends(nullptr);
  GatherSends(false);
  if (accepted && sentWhole) ++m_outcome.delivered;
  return accepted && sentWhole;
}

bool CSmtpClient::SendChunks(bool quitAfter) {
  m_outcome.stage = RunStage::kData;
  if (!NothingWaiting()) return false;
  CBdatFramer framer(*this, OffersPipelining());
  GatherSends(true);
  WatchSends(m_options.dataWatcher);
  FrameBlocks(&framer);
  const uint64_t before = BytesTaken();
  const bool stuffing = std::exchange(m_dotStuffing, false);
  // A file that changed since it was read ends the data without a LAST
  // chunk: the relay discards what it has, and the caller closes.
  bool written = WriteMessageData();
  m_dotStuffing = stuffing;
  bool ended = false;
  if (written) {
    framer.EndWith(quitAfter);
    written = WriteFramedBlock();
    m_quitSent = written && quitAfter;
    // As with "." (SendData): a LAST chunk that failed alone never reached
    // the relay; failed together with QUIT, it may have.
    ended = written || quitAfter;
  } else {
    // What is gathered still goes framed, as a chunk that is not the last:
    // unframed it would read as commands.
    FlushSends();
  }
  FrameBlocks(nullptr);
  m_outcome.dataBytes += BytesTaken() - before;
  if (ended) {
    m_outcome.stage = RunStage::kEndOfData;
    m_outcome.dataEnded = true;
    m_outcome.finalReplyCame = false;
  }
  const bool accepted = written && framer.ReadOutstanding();
  return EndData(ended, written, accepted);
}

bool CSmtpClient::UsesChunking() const {
  return m_options.chunking && m_identified && m_ehloKeywords.count("CHUNKING") != 0;
}

bool CSmtpClient::OffersPipelining() const {
  return m_identified && m_ehloKeywords.count("PIPELINING") != 0;
}

bool CSmtpClient::SendEnvelope(const std::vector<int>& recipients, std::vector<int>& deferred,
                               bool& dataSent) {
  // With PIPELINING (RFC 2920) MAIL, the RCPTs and DATA go as one group and
  // their replies are read in order. After a refused recipient the relay
  // may be waiting for data: the step fails without another byte and the
  // connection is closed, so the "." that would deliver a message (empty or
  // not) is never sent. A group holds at most kGroup commands, so that
  // neither side can fill the other's buffers while it is not reading.
  constexpr int kGroup = 100;
  const int group = OffersPipelining() ? kGroup : 1;
  // Command 0 is MAIL, command i the RCPT of recipients[i - 1]. The cursor
  // counts accepted recipients; one refusal stops them all.
  const int commands = 1 + static_cast<int>(recipients.size());
  const auto select = [&](int command) {
    if (command > 0) {
      SplitAddress(m_recipients[recipients[command - 1]], m_recipientAddress, m_recipientName);
    }
  };
  int acceptedHere = 0;
  // Every recipient of the envelope, each answered as its RCPT is.
  if (m_outcome.recipients.size() != m_recipients.size()) {
    m_outcome.recipients.assign(m_recipients.size(), SRecipientReply());
    for (size_t i = 0; i < m_recipients.size(); ++i) {
      std::string name;
      SplitAddress(m_recipients[i], m_outcome.recipients[i].address, name);
    }
  }
  m_outcome.stage = RunStage::kMail;
  for (int next = 0; next < commands;) {
    if (!NothingWaiting()) return false;
    if (group > 1) GatherSends(true);
    const int end = std::min(commands, next + group);
    for (int command = next; command < end; ++command) {
      select(command);
      SendFormatted("%s\r\n", command == 0 ? MailFromCommand(m_originatorAddress).c_str()
                                            : RcptToCommand(m_recipientAddress).c_str());
      if (command == 0) ++m_outcome.transactions;
    }
    // DATA's reply is read by SendData, after every recipient's.
    // With chunking the first chunk waits for every reply instead.
    if (group > 1 && end == commands && !UsesChunking()) {
      SendFormatted("DATA\r\n");
      dataSent = true;
    }
    // The first read writes the gathered group, behind an AUTH sent ahead.
    bool accepted = ReadPendingAuth();
    for (; next < end && accepted; ++next) {
      select(next);
      std::vector<std::string> lines;
      m_outcome.stage = next == 0 ? RunStage::kMail : RunStage::kRcpt;
      accepted = ReadReply("2", Timeouts().replyMs, &lines);
      if (next == 0) continue;
      SRecipientReply& answer = m_outcome.recipients[recipients[next - 1]];
      answer.accepted = accepted;
      answer.reply = m_outcome.reply;
      if (accepted) {
        ++acceptedHere;
        ++m_recipientCursor;
      } else if (acceptedHere > 0 && lines.back().starts_with("452")) {
        // Too many recipients for this transaction: kept for the next.
        deferred.push_back(recipients[next - 1]);
        accepted = true;
      }
    }
    if (group > 1) GatherSends(false);
    if (!accepted) return false;
    // A relay that refused one for being too many refuses the rest too:
    // those not yet asked wait for the next transaction.
    if (!deferred.empty() && next < commands) {
      for (; next < commands; ++next) deferred.push_back(recipients[next - 1]);
    }
  }
  return true;
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

namespace {

uint64_t CountData(CSmtpClient& client) {
  class CCounter : public CTextSink {
   public:
    void Write(std::string_view text) override { bytes += text.size(); }
    uint64_t bytes = 0;
  } counter;
  client.DivertSends(&counter);
  client.WriteMessageData();
  client.DivertSends(nullptr);
  return counter.bytes;
}

}  // namespace

uint64_t CSmtpClient::MessageDataSize() {
  // Chunks carry the message as it is.
  if (UsesChunking()) return MessageSize();
  return CountData(*this) + sizeof kEndOfData - 1;
}

uint64_t CSmtpClient::MessageSize() {
  const bool stuffing = m_dotStuffing;
  m_dotStuffing = false;
  const uint64_t size = CountData(*this);
  m_dotStuffing = stuffing;
  return size;
}

bool CSmtpClient::FitsRelayLimit() {
  // Only keywords read over TLS are trusted; a relay's SIZE (RFC 1870) saves
  // uploading what it is bound to refuse.
  if (m_options.tlsMode == kNoTls) return true;
  const auto size = m_ehloKeywords.find("SIZE");
  if (size == m_ehloKeywords.end()) return true;
  const char* text = size->second.c_str();
  char* end = nullptr;
  const unsigned long long limit = std::strtoull(text, &end, 10);
  if (end == text || limit == 0 || (*text < '0' || *text > '9')) return true;
  const unsigned long long data = MessageSize();
  if (data <= limit) return true;
  m_outcome.Fail(FailureKind::kNotAsked,
                 "The message (" + std::to_string(data) +
                     " bytes) is larger than the relay accepts (" + std::to_string(limit) +
                     " bytes)\n");
  return false;
}
