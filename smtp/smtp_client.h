// The one object of a run: the connection, the SMTP dialogue and the message.
#pragma once

#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mime/header_values.h"
#include "mime/message_part.h"
#include "net/line_socket.h"
#include "platform/tls.h"
#include "smtp/client_options.h"
#include "smtp/ehlo.h"
#include "smtp/run_outcome.h"
#include "smtp/environment.h"

class CSmtpClient : public CLineSocket {
 public:
  static constexpr int kUnsetStart = INT_MAX;

  // environment gives the waits, the trust store, the message stamp, the
  // media types and the message text; it must outlive the client.
  explicit CSmtpClient(bool quiet, CEnvironment& environment = CEnvironment::Default());
  ~CSmtpClient() override;

  // --- Session (smtp/smtp_session.cpp) ---
  // Every step below that sends a command first makes sure that nothing from
  // the relay waits unread (NothingWaiting): a relay that answered ahead is
  // out of step, and the step fails as if its reply had been refused.

  // Connects to host on port, or the "smtp" service port, or 25.
  bool Connect(const std::string& host, long port);
  // Greeting, then HELO, or EHLO and AUTH when a credential is set. False at
  // the first reply refused.
  bool Login();
  // HELO with GreetingName(); true on a 2xx reply.
  bool Helo();
  // QUIT; true on a 2xx reply. The connection stays open until Close.
  bool Quit();
  // Reads one reply, continuation lines included. True when every line is
  // three digits then a blank, a hyphen or the end, all with one code, and
  // the last begins with expected. The lines may hold kMaxReplyLength bytes.
  bool ReadReply(const char* expected);
  // As ReadReply, waiting at most timeoutMs for the whole reply; lines, when
  // given, receives every line of it.
  bool ReadReply(const char* expected, int timeoutMs, std::vector<std::string>* lines = nullptr);
  // The name HELO and EHLO announce: Options().heloName when set, else the local
  // host name, else the address literal of the connection's local address
  // ("[192.0.2.1]", "[IPv6:2001:db8::1]").
  std::string GreetingName() const;
  bool SetUserName(const std::string& text);
  bool SetPassword(const std::string& text);
  // The run's settings, given once before Connect; the trust store starts
  // as the environment's, so callers change a copy of Options().
  void SetOptions(const SClientOptions& options) { m_options = options; }
  const SClientOptions& Options() const { return m_options; }

  // --- EHLO and TLS (smtp/ehlo.cpp, smtp/smtp_tls.cpp) ---
  using TlsMode = SClientOptions::TlsMode;
  static constexpr TlsMode kNoTls = SClientOptions::kNoTls;
  static constexpr TlsMode kStartTls = SClientOptions::kStartTls;
  static constexpr TlsMode kImplicitTls = SClientOptions::kImplicitTls;
  // EHLO; on success the relay's keywords replace any earlier ones.
  bool Ehlo();
  // EHLO, STARTTLS, the handshake; false with a kTls failure in m_outcome.
  bool SendStartTls();
  // The handshake on the connection as it is; false with a kTls failure in m_outcome.
  bool SecureConnection();

  // --- Authentication (smtp/smtp_auth.cpp) ---
  // AUTH with AuthMethod, PLAIN when unset. Over TLS the mechanism must be
  // among those of the relay's AUTH keyword, and an unset one is chosen from
  // them; when that fails nothing is sent and a kNotAsked
  // failure in m_outcome says why.
  bool Authenticate();
  // EHLO, then AUTH LOGIN with the user name and password answered in turn;
  // true only on 235.
  bool AuthLogin();
  // EHLO, then AUTH PLAIN with the credential; true on a 2xx reply. When
  // the relay offers PIPELINING the command goes with the first envelope
  // group instead (RFC 4954 section 4: PLAIN with its initial response
  // completes in one round trip): true at once, its reply read before any
  // other (see AuthRefused).
  bool AuthPlain();
  // The AUTH sent ahead with the envelope was refused: the step that read
  // its reply failed for that.
  bool AuthRefused() const { return m_authRefused; }
  // EHLO, then AUTH CRAM-MD5 answered with the user name and the keyed
  // digest of the challenge; true only on 235.
  bool AuthCramMd5();
  // EHLO, then AUTH XOAUTH2 or OAUTHBEARER with the password as the token;
  // true only on 235. A 334 carries the relay's error: it is traced decoded
  // and answered with an empty line, and the run fails.
  bool AuthBearer(int mechanism);

  // --- Mail transaction (smtp/mail_transaction.cpp) ---
  // MAIL, one RCPT per recipient (m_recipientCursor counts the accepted
  // ones), DATA, the header block and parts, ".", in as many transactions
  // as the relay's 452 replies ask for. True when the relay accepted the
  // data for every recipient and every byte of it was sent.
  bool SendMail();
  // MAIL and one RCPT per entry of recipients (indexes into m_recipients);
  // true when every one was accepted, or refused with 452 after another of
  // this transaction was accepted: those are appended to deferred. When the
  // relay's EHLO offered PIPELINING the commands go in groups, DATA after
  // the last RCPT of the last (dataSent then set, its reply unread), and the
  // replies are read in order, stopping at the first refusal; otherwise each
  // waits for the reply to the one before.
  bool SendEnvelope(const std::vector<int>& recipients, std::vector<int>& deferred,
                    bool& dataSent);
  // DATA unless dataSent, the message, ".", and QUIT with it when quitAfter
  // (Quit then only reads its reply); true when the relay accepted the data
  // and every byte of it was sent.
  bool SendData(bool dataSent, bool quitAfter);
  // The message as BDAT chunks (RFC 3030), one per gathered send block,
  // neither dot-stuffed nor ended by ".", the last marked LAST and followed
  // by QUIT when quitAfter; pipelined when the relay offers PIPELINING. Sent
  // only once every recipient's reply is known, so that a refused recipient
  // leaves the relay without a complete message. True when the relay
  // accepted every chunk and every byte of them was sent.
  bool SendChunks(bool quitAfter);
  // The end of DATA or BDAT: the final reply kept when the data ended
  // (replied: the end went out whole), the gathering and watching stopped;
  // true when the relay accepted and every byte left.
  bool EndData(bool ended, bool replied, bool accepted);
  // An EHLO was accepted on this connection and listed PIPELINING.
  bool OffersPipelining() const;
  // An EHLO was accepted on this connection and listed CHUNKING, and the
  // options allow it: the transactions send BDAT in place of DATA.
  bool UsesChunking() const;
  // The message data through SendText: the header block and every part,
  // without the end-of-data line. Dot-stuffed while m_dotStuffing is set.
  // Wherever the bytes go (the relay, a DivertSends sink) they are the same.
  // False when a file changed since it was read (a kChangedFile failure names it).
  bool WriteMessageData();
  // The bytes of the message the data phase sends: WriteMessageData's and
  // the end-of-data line; with chunking the message as it is (no
  // dot-stuffing, no end-of-data line, the BDAT commands not counted).
  uint64_t MessageDataSize();
  // The message's size as RFC 1870 counts it, the number a relay compares
  // with its SIZE: WriteMessageData's bytes without dot-stuffing.
  uint64_t MessageSize();
  // False, with a kNotAsked failure, when the relay's SIZE over TLS is smaller
  // than MessageSize().
  bool FitsRelayLimit();
  // The envelope commands without their line end, as sent.
  static std::string MailFromCommand(const std::string& address);
  static std::string RcptToCommand(const std::string& address);
  static constexpr char kEndOfData[] = ".\r\n";

  // --- Message (mime/message.cpp) ---
  bool SetOriginator(const std::string& text);
  bool AddRecipient(const std::string& entry);
  bool AddCcRecipient(const std::string& entry);
  bool AddBccRecipient(const std::string& entry);
  // Reads and encodes one body source: the file, or the message text from
  // standard input when fileName is empty. False when it cannot be read;
  // a kUnreadablePart failure then says why.
  bool AddPart(const std::string& fileName, bool attachment, const std::string& charset,
               bool withholdName);
  static bool SplitAddress(const std::string& entry, std::string& address, std::string& name);
  std::string LookupContentType(const std::string& fileName) const;

  // --- Header block (mime/header_writer.cpp) ---
  // Sends the header block: From, To and Cc (Bcc never), Reply-To, Subject,
  // the stamp, then the MIME or uuencode fields of m_parts. Sets m_ccStart
  // and m_bccStart to the recipient count where unset. Returns true; a lost
  // send shows in FlushSends.
  bool WriteHeaders();
  void FormatBoundary(std::string& delimiter) const;
  bool IsBoundaryUnique() const;
  // Raises the boundary counter to the first value from its own for which
  // IsBoundaryUnique holds, in one pass over the 7bit lines.
  void MakeBoundaryUnique();
  // The charset of encoded words and file names: -l, else the locale's.
  std::string HeaderCharsetName() const;
  // One header line, folded or not; CR LF is added.
  void SendHeaderLine(const std::string& line);

  // --- Part writer (mime/part_writer.cpp) ---
  // False when a planned file no longer holds the bytes read before
  // connecting (a kChangedFile failure then names it): the part is cut short.
  // Sends part index: its MIME fields (or uuencode "begin"), its lines
  // dot-stuffed, then the next delimiter (or "end"). REQUIRES: the boundary
  // made unique first. False when index is past the last part, and when a
  // planned file no longer holds the bytes read before connecting
  // (a kChangedFile failure
  // then names it: the part is cut short); a lost send shows
  // in FlushSends.
  bool SendPart(size_t index);

  // Session members.
  std::string m_userName;
  std::string m_password;
  int AuthMethod = 0;  // an AuthMechanism (smtp/auth_mechanisms.h); 0 none given
  int m_recipientCursor = 0;
  // The failure that ended the run, set where it happened, and what the
  // dialogue left for a report.
  SRunOutcome m_outcome;
  EhloKeywords m_ehloKeywords;  // of the last accepted EHLO
  bool m_identified = false;    // an EHLO was accepted on this connection

  // Message members.
  std::string m_originatorAddress;
  std::string m_recipientAddress;   // working: the entry split last
  std::string m_originatorName;
  std::string m_recipientName;      // working: the entry split last
  std::vector<std::string> m_recipients;  // To, then Cc, then Bcc, as typed
  int m_ccStart = kUnsetStart;
  int m_bccStart = kUnsetStart;
  std::string m_replyTo;
  std::string m_subject;
  std::string m_headerCharset;  // -l as typed; empty: the locale's
  std::string m_boundaryText = "++++ Section Boundry ++++";
  std::vector<CMessagePart> m_parts;
  unsigned m_boundaryCounter = 0;
  bool m_uuencodeMode = false;
  bool m_forceUuencode = false;
  bool m_dotStuffing = true;  // off only for data that never reaches SMTP
  // Taken when the header block is first written, so that every writing of
  // the message (counted, shown, sent) is the same.
  std::optional<SMessageStamp> m_stamp;

 private:
  SClientOptions m_options;
  bool m_quitSent = false;  // QUIT went with the end of the data, its reply unread
  bool m_authPending = false;  // AUTH PLAIN gathered with what follows, its reply unread
  bool m_authRefused = false;
  // Reads the reply to an AUTH sent ahead, if any; false when it refused.
  bool ReadPendingAuth();
  void FailTls(const std::string& reason, bool transient = false);

  CEnvironment& m_environment;
};
