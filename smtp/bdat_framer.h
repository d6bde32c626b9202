// The message data as BDAT chunks (RFC 3030): one chunk per gathered send
// block, the last one marked LAST.
#pragma once

#include <string>

#include "net/line_socket.h"

class CSmtpClient;

class CBdatFramer : public CBlockFramer {
 public:
  // pipelined: the relay offered PIPELINING, so chunks go without waiting
  // for the replies to the ones before (at most kWindow unread at once);
  // otherwise each chunk's reply is read before anything more is sent.
  CBdatFramer(CSmtpClient& client, bool pipelined) : m_client(client), m_pipelined(pipelined) {}

  static constexpr int kWindow = 16;

  // The next block is the last chunk; QUIT follows it when quitAfter.
  void EndWith(bool quitAfter) {
    m_last = true;
    m_quit = quitAfter;
  }
  // Reads the replies still unread, the last chunk's with the final reply's
  // wait; true when every chunk was accepted.
  bool ReadOutstanding();

  std::string Header(size_t size) override;
  std::string Trailer() override;
  bool Written() override;

 private:
  bool ReadOne();

  CSmtpClient& m_client;
  bool m_pipelined;
  bool m_last = false;
  bool m_quit = false;
  bool m_lastWritten = false;
  bool m_refused = false;
  int m_unread = 0;
};
