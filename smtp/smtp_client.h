// The one object of a run: the connection, the SMTP dialogue and the message.
#pragma once

#include <climits>
#include <string>
#include <vector>

#include "mime/message_part.h"
#include "net/line_socket.h"

class CByteSource;
struct SMessageStamp;

class CSmtpClient : public CLineSocket {
 public:
  static constexpr int kUnsetStart = INT_MAX;

  explicit CSmtpClient(bool quiet);
  ~CSmtpClient() override;

  // --- Session (smtp/smtp_session.cpp) ---
  // Connects to host on port, or the "smtp" service port, or 25.
  bool Connect(const std::string& host, long port);
  // Greeting, then HELO, or EHLO and AUTH when a credential is set.
  bool Login();
  bool Helo();
  bool Quit();
  // Reads one reply, continuation lines included, and judges its last line
  // by expected as a prefix.
  bool ReadReply(const char* expected);
  // As ReadReply, waiting at most timeoutMs for the whole reply.
  bool ReadReply(const char* expected, int timeoutMs);
  bool SetUserName(const std::string& text);
  bool SetPassword(const std::string& text);

  // --- Authentication (smtp/smtp_auth.cpp) ---
  bool AuthLogin();
  bool AuthPlain();

  // --- Mail transaction (smtp/mail_transaction.cpp) ---
  bool SendMail();

  // --- Message (mime/message.cpp) ---
  bool SetOriginator(const std::string& text);
  bool AddRecipient(const std::string& entry);
  bool AddCcRecipient(const std::string& entry);
  bool AddBccRecipient(const std::string& entry);
  // Reads and encodes one body source: the file, or the message text from
  // standard input when fileName is empty. False when it cannot be read.
  bool AddPart(const std::string& fileName, bool attachment, const std::string& charset,
               bool withholdName);
  static bool SplitAddress(const std::string& entry, std::string& address, std::string& name);
  std::string LookupContentType(const std::string& fileName) const;

  // --- Header block (mime/header_writer.cpp) ---
  bool WriteHeaders();
  void FormatBoundary(std::string& delimiter) const;
  bool IsBoundaryUnique() const;
  // Raises the boundary counter to the first value from its own for which
  // IsBoundaryUnique holds, in one pass over the 7bit lines.
  void MakeBoundaryUnique();

  // --- Part writer (mime/part_writer.cpp) ---
  // False when a planned file no longer holds the bytes read before
  // connecting (m_changedFile then names it): the part is cut short.
  bool SendPart(size_t index);

  // Session members.
  std::string m_userName;
  std::string m_password;
  int AuthMethod = 0;  // 0 none given, 1 PLAIN, 2 LOGIN
  int m_recipientCursor = 0;

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
  std::string m_boundaryText = "++++ Section Boundry ++++";
  std::vector<CMessagePart> m_parts;
  unsigned m_boundaryCounter = 0;
  bool m_uuencodeMode = false;
  bool m_forceUuencode = false;
  // The file found changed while the message was being sent, if any.
  std::string m_changedFile;

  // Where an empty file name reads the message text; the process's standard
  // input unless a test substitutes a source.
  CByteSource* m_messageTextSource = nullptr;
  // The extension table of LookupContentType; empty: the system's.
  std::string m_contentTypeTable;

  // Where the Date and Message-ID fields take the time, process id and random
  // value; the system's unless a test substitutes a fixed stamp.
  SMessageStamp (*m_stampSource)() = nullptr;
};
