// CLineSocket's life and the bounds of one reply. The class is spread over
// files by concern, as CSmtpClient is:
//   line_socket_connect.cpp  resolving the host and connecting
//   line_socket_send.cpp     formatting, sending and gathering sends
//   line_socket_trace.cpp    the trace and the masking of secrets in it
//   line_socket_read.cpp     reading lines within their bounds
//   line_socket_tls.cpp      wrapping the stream (TLS)
#include "net/line_socket.h"

CLineSocket::CLineSocket(bool quiet, CResolver& resolver) : m_quiet(quiet), m_resolver(resolver) {
  m_startupStatus = platform::StartSocketLibrary();
  // Found once and silently: the greeting announces it.
  if (m_startupStatus != 0 || !m_resolver.LocalHostName(m_localHostName)) m_localHostName.clear();
}

CLineSocket::~CLineSocket() {
  Close();
  if (m_startupStatus == 0) platform::StopSocketLibrary();
}

const char* CLineSocket::PeerName() const {
  return m_connection.remoteHostName.empty() ? "the peer" : m_connection.remoteHostName.c_str();
}

bool CLineSocket::Close() {
  FlushSends();
  if (m_connection.stream) {
    const int closeResult = m_connection.stream->Close();
    m_connection.stream.reset();
    Trace("Connection Closed [%u]\n", static_cast<unsigned>(closeResult));
  }
  m_connection = {};
  return true;
}

void CLineSocket::BeginReply(int timeoutMs) {
  m_connection.readDeadline = CDeadline::Start(timeoutMs);
  m_connection.replyBytes = 0;
  m_connection.inReply = true;
}

void CLineSocket::EndReply() {
  m_connection.readDeadline = CDeadline();
  m_connection.inReply = false;
}
