// One outgoing TCP connection with a formatted line sender, a buffered line
// reader and the protocol trace on standard error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "net/byte_stream.h"
#include "platform/socket.h"
#include "platform/tls.h"

// How long the connection waits for its peer. The defaults are the client
// timeouts that RFC 5321 section 4.5.3.2 recommends; tests shorten them.
struct SLineTimeouts {
  int connectMs = 5 * 60 * 1000;
  int replyMs = 5 * 60 * 1000;       // the greeting and each reply
  int finalReplyMs = 10 * 60 * 1000; // the reply to the "." ending the data
  int sendMs = 3 * 60 * 1000;        // a send that makes no progress
};

class CLineSocket {
 public:
  // The longest reply line accepted; a longer one ends input as a failure.
  static constexpr size_t kMaxLineLength = 64 * 1024;

  explicit CLineSocket(bool quiet);
  virtual ~CLineSocket();
  CLineSocket(const CLineSocket&) = delete;
  CLineSocket& operator=(const CLineSocket&) = delete;

  // Closes any previous connection, resolves host and connects to it on the
  // override port, else the service's port, else defaultPort.
  bool Open(const std::string& host, const char* service, int defaultPort, long overridePort);
  // Fills the remote host name and address from a dotted address or a name.
  bool ResolveHost(const std::string& host);
  // As ResolveHost, for names only and without trace.
  bool LookupHostByName(const std::string& name);
  // The port to connect to in network byte order; 0 on failure.
  uint16_t ResolvePort(const char* service, int defaultPort, long overridePort);
  bool ConnectSocket();

  // printf-style; the whole text reaches the peer or the result is false.
  // Traced as "--> %s" unless quiet (masked past the trace-mask position).
  bool SendFormatted(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(gnu_printf, 2, 3)))
#endif
      ;
  // Sends text as it is, with the same accounting and trace as SendFormatted.
  bool SendText(std::string_view text);

  // While on, sent texts and their trace lines are gathered and written in
  // large blocks: before every wait for the peer, whenever a block is full,
  // and at Close. A send then reports false once a block has failed, and
  // every later one does too. Turning it off writes what is gathered.
  void GatherSends(bool on);
  // Writes what is gathered; false when the connection has lost bytes.
  bool FlushSends();

  // Reads one line without its terminator: its length, or -1 when input
  // ended (or failed, or timed out) before any byte of a line.
  long ReadLine(std::string& line);
  int ReadByte();
  void UnreadByte(int byte);
  long FillBuffer();

  const std::string& GetLocalHostName() const { return m_localHostName; }
  const std::string& GetRemoteHostName() const { return m_remoteHostName; }
  const std::string& GetRemoteAddress() const { return m_remoteAddress; }
  bool Close();

  // From position p on, "--> %s" shows "*** SECRET! ***\r\n" instead of the
  // rest of each sent text; -1 turns masking off.
  void SetTraceMask(int position) { m_traceMask = position; }
  bool IsQuiet() const { return m_quiet; }

  void SetTimeouts(const SLineTimeouts& timeouts) { m_timeouts = timeouts; }
  const SLineTimeouts& Timeouts() const { return m_timeouts; }
  // Bounds the time the following reads may wait, in total, from now.
  void SetReadDeadline(int timeoutMs);

  // Takes over an already open stream as the connection (tests use an
  // in-memory one).
  void AttachStream(std::unique_ptr<CByteStream> stream);

  // True when a byte from the peer is waiting: unread in the buffer or
  // already on the connection (looked at without waiting).
  bool InputPending();
  // Secures the connection: the TLS handshake within the reply timeout, then
  // the stream carries plain text through TLS. The read buffer must be empty.
  // False with reason set; the connection can then carry nothing more.
  bool StartTls(const platform::TlsOptions& options, std::string& reason);

 private:
  void WriteTrace(std::string_view text);
  void FlushTrace();
  void Trace(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(gnu_printf, 2, 3)))
#endif
      ;

  bool m_quiet;
  int m_startupStatus = 0;
  int m_closeResult = 0;
  int m_traceMask = -1;
  std::string m_remoteHostName;
  std::string m_remoteAddress;
  std::string m_localHostName;
  uint16_t m_port = 0;  // network byte order
  platform::HostEntry m_hostEntry;
  bool m_hasHostEntry = false;
  std::unique_ptr<CByteStream> m_stream;

  std::string m_receiveBuffer;
  size_t m_filled = 0;
  size_t m_readPosition = 0;
  bool m_inputEnded = false;
  bool m_dropLeadingBreak = false;
  bool m_readFailed = false;  // input ended by a timeout or an overlong line
  bool m_sendFailed = false;  // a send failed: the stream has lost bytes
  bool m_gather = false;
  std::string m_sendBlock;    // gathered bytes not yet sent
  std::string m_traceBlock;   // gathered trace not yet written

  SLineTimeouts m_timeouts;
  int64_t m_readDeadline = -1;  // platform::MonotonicMs() value, -1 = none
};
