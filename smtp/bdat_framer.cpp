#include "smtp/bdat_framer.h"

#include "smtp/smtp_client.h"

std::string CBdatFramer::Header(size_t size) {
  m_lastWritten = m_last;
  return "BDAT " + std::to_string(size) + (m_last ? " LAST\r\n" : "\r\n");
}

std::string CBdatFramer::Trailer() { return m_last && m_quit ? "QUIT\r\n" : std::string(); }

bool CBdatFramer::Written() {
  ++m_unread;
  // The last chunk's reply is the final one: ReadOutstanding waits for it.
  if (m_lastWritten) return true;
  if (m_pipelined) {
    // Bounded, so that the relay never blocks on replies it cannot send
    // while the client is still sending.
    return m_unread < kWindow || ReadOne();
  }
  // Without PIPELINING nothing may follow a chunk before its reply, and
  // nothing but that reply may come.
  return ReadOne() && m_client.NothingWaiting();
}

bool CBdatFramer::ReadOne() {
  --m_unread;
  const bool last = m_lastWritten && m_unread == 0;
  const auto& timeouts = m_client.Timeouts();
  m_refused = m_refused || !m_client.ReadReply("2", last ? timeouts.finalReplyMs : timeouts.replyMs);
  return !m_refused;
}

bool CBdatFramer::ReadOutstanding() {
  // Stops at the first refusal: the transaction has failed and the caller
  // closes the connection.
  while (m_unread > 0 && !m_refused) ReadOne();
  return !m_refused && m_lastWritten;
}
