// One outgoing TCP connection with a formatted line sender, a buffered line
// reader and the protocol trace on standard error.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/deadline.h"
#include "base/printf_format.h"
#include "net/byte_stream.h"
#include "net/resolver.h"
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

// Takes sent texts in place of the connection (see DivertSends).
class CTextSink {
 public:
  virtual ~CTextSink() = default;
  virtual void Write(std::string_view text) = 0;
};

// Told how many bytes have reached the peer (see WatchSends).
class CSendWatcher {
 public:
  virtual ~CSendWatcher() = default;
  virtual void Sent(uint64_t bytes) = 0;
  // The data phase will send this many bytes in all (told when it differs
  // from what was counted beforehand: chunks are not dot-stuffed).
  virtual void Expect(uint64_t) {}
};

// Frames gathered blocks as chunks (BDAT, RFC 3030) while set with
// FrameBlocks: each block goes out as Header, the block, Trailer, in one
// write. Header and Trailer are traced as sent texts, uncounted by a watcher.
class CBlockFramer {
 public:
  virtual ~CBlockFramer() = default;
  // The command line that announces a block of size bytes.
  virtual std::string Header(size_t size) = 0;
  // What follows the block in the same write (a QUIT); usually nothing.
  virtual std::string Trailer() = 0;
  // After a block has left: may read replies; false fails every later send.
  virtual bool Written() = 0;
};

class CLineSocket {
 public:
  // The longest reply line accepted; a longer one ends input as a failure.
  static constexpr size_t kMaxLineLength = 64 * 1024;
  // The most bytes the lines of one reply may hold together (line ends not
  // counted); more ends input as an over-long line does.
  static constexpr size_t kMaxReplyLength = 1024 * 1024;

  // resolver answers every host lookup, this machine's name included (which
  // is found here, once); it must outlive the connection.
  explicit CLineSocket(bool quiet, CResolver& resolver = CResolver::System());
  virtual ~CLineSocket();
  CLineSocket(const CLineSocket&) = delete;
  CLineSocket& operator=(const CLineSocket&) = delete;

  // Closes any previous connection, resolves host and connects to it on the
  // override port, else the service's port, else defaultPort. False with
  // ConnectFailure() saying why.
  bool Open(const std::string& host, const char* service, int defaultPort, long overridePort);
  // The address families host lookups may return; both by default.
  void SetAddressFamilies(platform::AddressFamilies families) { m_families = families; }
  // Why the last Open failed, as one line without its end ("Connection
  // refused by 192.0.2.1 on port 25"); empty when it did not fail.
  const std::string& ConnectFailure() const { return m_connectFailure; }

  // printf-style; the whole text reaches the peer or the result is false.
  // Traced as "--> %s" unless quiet (masked past the trace-mask position).
  bool SendFormatted(const char* format, ...) VELSEND_PRINTF(2, 3);
  // Sends text as it is, with the same accounting and trace as SendFormatted.
  bool SendText(std::string_view text);
  // The bytes of every text taken for sending so far (sent or gathered),
  // over every connection; a caller counts a stretch as a difference.
  uint64_t BytesTaken() const { return m_bytesTaken; }

  // While on, sent texts and their trace lines are gathered and written in
  // large blocks: before every wait for the peer, whenever a block is full,
  // and at Close. A send then reports false once a block has failed, and
  // every later one does too. The peer must stay silent meanwhile: a block
  // is withheld, as a failed one, when bytes from the peer already wait.
  // Turning it off writes what is gathered.
  void GatherSends(bool on);
  // Writes what is gathered; false when the connection has lost bytes.
  bool FlushSends();
  // While framer is set, every gathered block is written framed by it (see
  // CBlockFramer), and bytes from the peer may wait (replies to earlier
  // chunks: the framer reads them). Null ends the framing.
  void FrameBlocks(CBlockFramer* framer) { m_framer = framer; }
  // Writes what is gathered as one framed chunk, even an empty one; false
  // when the connection has lost bytes. REQUIRES: a framer set.
  bool WriteFramedBlock();

  // While sink is set, every sent text goes to it alone: nothing reaches the
  // connection or the trace. Null ends the diversion.
  void DivertSends(CTextSink* sink) { m_sink = sink; }
  // While watcher is set, it is told the count of bytes that reached the
  // stream since this call, at once (0) and after every piece of at most
  // 64 KiB. Null ends the watch.
  void WatchSends(CSendWatcher* watcher);

  // Reads one line without its terminator: its length, or -1 when input
  // ended (or failed, or timed out) before any byte of a line.
  long ReadLine(std::string& line);

  // True when no byte from the peer waits unread: the read buffer is used up
  // and a zero-time poll of the stream finds nothing but the rest of a line
  // end. Costs no wait. Otherwise the peer has answered something it was not
  // yet sent: that is traced, and the bytes stay unread.
  bool NothingWaiting();

  const std::string& GetLocalHostName() const { return m_localHostName; }
  // The local end of the connection as address text (dotted, or IPv6);
  // empty without a connected socket.
  const std::string& GetLocalAddress() const { return m_connection.localAddress; }
  const std::string& GetRemoteHostName() const { return m_connection.remoteHostName; }
  const std::string& GetRemoteAddress() const { return m_connection.remoteAddress; }
  // The port connected to; 0 before Open found one.
  unsigned GetRemotePort() const { return platform::NetworkToHost16(m_port); }
  bool Close();

  // From position p on, "--> %s" shows "*** SECRET! ***\r\n" instead of the
  // rest of each sent text; -1 turns masking off.
  void SetTraceMask(int position) { m_traceMask = position; }
  // Traces text the relay sent in an encoded form (a base64 error message),
  // decoded, as "<-- (decoded) %s\n" with control bytes shown as received
  // lines show them.
  void TraceDecoded(std::string_view text);

  void SetTimeouts(const SLineTimeouts& timeouts) { m_timeouts = timeouts; }
  const SLineTimeouts& Timeouts() const { return m_timeouts; }
  // Bounds the reads of one reply, until EndReply: together they may wait
  // timeoutMs from now (negative: no bound) and their lines may hold
  // kMaxReplyLength bytes. Past either bound input ends as a failure.
  void BeginReply(int timeoutMs);
  void EndReply();

  // Takes over an already open stream as the connection (tests use an
  // in-memory one).
  void AttachStream(std::unique_ptr<CByteStream> stream);

  // Hands the stream to wrap and reads and writes through what it returns
  // from then on (a TLS session over the stream). Refused, keeping the
  // stream, while bytes from the peer wait unread: they came before the
  // switch and must not pass for what the wrapper delivers. False as well
  // when wrap returns nothing; the connection then carries nothing more.
  using StreamWrapper =
      std::function<std::unique_ptr<CByteStream>(std::unique_ptr<CByteStream>)>;
  bool WrapStream(const StreamWrapper& wrap);
  // Secures the connection through WrapStream: the TLS handshake within the
  // reply timeout, then the stream carries plain text through TLS. False with
  // failure set (net/tls_failure.h words it); the connection can then carry
  // nothing more.
  bool StartTls(const platform::TlsOptions& options, platform::TlsFailure& failure);

 protected:
  // The steps of Open that tests take one at a time (through a subclass).
  // Finds the addresses to try: an IPv4 or IPv6 literal itself (named by its
  // reverse lookup, else by its own text), or every address of a name. Fills
  // the remote host name and the first address.
  bool ResolveHost(const std::string& host);
  // The port to connect to in network byte order; 0 on failure.
  uint16_t ResolvePort(const char* service, int defaultPort, long overridePort);

 private:
  // Everything that lives as long as one connection; Close resets it whole.
  struct SConnection {
    std::unique_ptr<CByteStream> stream;
    // The socket at the bottom of stream, owned through it; null when the
    // stream was attached.
    platform::CSocketStream* socket = nullptr;
    std::vector<platform::SAddress> addresses;  // to try, in order
    std::string remoteHostName;
    std::string remoteAddress;  // the one tried last
    std::string localAddress;

    std::string receiveBuffer;
    size_t filled = 0;
    size_t readPosition = 0;
    bool inputEnded = false;
    bool dropLeadingBreak = false;
    bool readFailed = false;  // input ended by a timeout or an over-long line or reply
    CDeadline readDeadline;  // the reply's, unset outside one
    size_t replyBytes = 0;
    bool inReply = false;

    bool sendFailed = false;  // a send failed: the stream has lost bytes
    bool gather = false;
    std::string sendBlock;    // gathered bytes not yet sent
  };

  // Tries every address found, in order, each within its share of what is
  // left of the connect timeout, until one connects; each attempt is traced.
  bool ConnectSocket();
  // The next received byte (0 to 255), receiving more once the buffer is
  // used up; -1 when input has ended, and for every call after that.
  int ReadByte();
  // Steps back over the byte the last ReadByte returned; valid only once
  // after a ReadByte that returned a byte.
  void UnreadByte(int byte);
  // Writes gathered sends, then receives once behind the held bytes, waiting
  // until the read deadline (or the reply timeout without one). The count,
  // 0 when the peer closed, or CByteStream's error or (traced) timeout.
  long FillBuffer();
  bool SendBytes(std::string_view text);
  // A watcher is told only of the bytes in [skip, skip + counted).
  bool SendToStream(const char* data, size_t size, size_t skip = 0,
                    size_t counted = static_cast<size_t>(-1));
  bool WriteFramed(std::string block, std::string trace);
  void TakeLineBytes(std::string& line);
  void TraceSent(std::string_view text);
  void TraceReceived(std::string_view line);
  void WriteTrace(std::string_view text);
  void FlushTrace();
  void Trace(const char* format, ...) VELSEND_PRINTF(2, 3);
  const char* PeerName() const;

  bool m_quiet;
  CResolver& m_resolver;
  platform::AddressFamilies m_families = platform::AddressFamilies::kAny;
  int m_startupStatus = 0;
  int m_traceMask = -1;
  std::string m_localHostName;
  // Outside SConnection, since they outlast Close: the port and the failure
  // are reported after the connection is gone, the trace gathered before a
  // close is written after its last line, and a watcher is set for the data
  // phase whatever happens to the stream beneath.
  uint16_t m_port = 0;  // network byte order
  std::string m_connectFailure;
  std::string m_traceBlock;  // gathered trace not yet written
  CSendWatcher* m_watcher = nullptr;
  uint64_t m_watchedBytes = 0;
  uint64_t m_bytesTaken = 0;
  SConnection m_connection;
  CTextSink* m_sink = nullptr;
  CBlockFramer* m_framer = nullptr;
  SLineTimeouts m_timeouts;
};
