#include "smtp/smtp_client.h"

CSmtpClient::CSmtpClient(bool quiet) : CLineSocket(quiet) {}

CSmtpClient::~CSmtpClient() = default;

bool CSmtpClient::ReadReply(const char* expected) {
  return ReadReply(expected, Timeouts().replyMs);
}

bool CSmtpClient::ReadReply(const char* expected, int timeoutMs,
                            std::vector<std::string>* lines) {
  SetReadDeadline(timeoutMs);
  std::string line;
  ReadLine(line);
  if (lines) lines->assign(1, line);
  // Continuation lines are known by the hyphen alone; only the last line of
  // the reply is judged. End of input leaves the line empty, which never
  // matches.
  while (line.size() >= 4 && line[3] == '-') {
    ReadLine(line);
    if (lines) lines->push_back(line);
  }
  SetReadDeadline(-1);
  const std::string_view prefix(expected);
  return line.size() >= prefix.size() && line.compare(0, prefix.size(), prefix) == 0;
}

bool CSmtpClient::Connect(const std::string& host, long port) {
  if (m_tlsMode == kImplicitTls) return Open(host, "submissions", 465, port);
  return Open(host, "smtp", 25, port);
}

bool CSmtpClient::Login() {
  if (m_tlsMode == kImplicitTls && !SecureConnection()) return false;
  if (!ReadReply("2")) return false;
  if (m_tlsMode == kStartTls && !SendStartTls()) return false;
  // Over TLS the relay's keywords are read even when nothing needs them yet.
  if (m_tlsMode != kNoTls && !Ehlo()) return false;
  if (m_userName.empty() && m_password.empty()) return m_identified || Helo();
  return AuthMethod == 2 ? AuthLogin() : AuthPlain();
}

bool CSmtpClient::Helo() {
  SendFormatted("HELO %s\r\n", GetLocalHostName().c_str());
  return ReadReply("2");
}

bool CSmtpClient::Quit() {
  SendFormatted("QUIT\r\n");
  return ReadReply("2");
}

bool CSmtpClient::SetUserName(const std::string& text) {
  m_userName = text;
  return true;
}

bool CSmtpClient::SetPassword(const std::string& text) {
  m_password = text;
  return true;
}
