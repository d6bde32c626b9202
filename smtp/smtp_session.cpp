#include <string>
#include <string_view>

#include "smtp/smtp_client.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Three digits, then a blank, a hyphen or the line's end (RFC 5321 section
// 4.2.1).
bool IsReplyLine(std::string_view line) {
  return line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) &&
         (line.size() == 3 || line[3] == ' ' || line[3] == '-');
}

}  // namespace

CSmtpClient::CSmtpClient(bool quiet, CEnvironment& environment)
    : CLineSocket(quiet, environment.Resolver()), m_environment(environment) {
  SetTimeouts(environment.Timeouts());
  m_options.tls.caFile = environment.TrustStore();
}

CSmtpClient::~CSmtpClient() = default;

bool CSmtpClient::ReadReply(const char* expected) {
  return ReadReply(expected, Timeouts().replyMs);
}

bool CSmtpClient::ReadReply(const char* expected, int timeoutMs,
                            std::vector<std::string>* lines) {
  // Every reply is kept as the last one, for the report and the refusal line.
  std::vector<std::string>& kept = m_outcome.reply;
  BeginReply(timeoutMs);
  std::string line;
  ReadLine(line);
  kept.assign(1, line);
  // Every line must be a reply line with the code of the first; the reply
  // still ends where it always did, at the first line without a hyphen in
  // the fourth place. End of input leaves the line empty, which never
  // matches.
  const std::string code = line.substr(0, 3);
  bool wellFormed = IsReplyLine(line);
  while (line.size() >= 4 && line[3] == '-') {
    ReadLine(line);
    kept.push_back(line);
    wellFormed = wellFormed && IsReplyLine(line) && line.compare(0, 3, code) == 0;
  }
  EndReply();
  if (kept.size() == 1 && kept.front().empty()) kept.clear();  // none came
  if (lines) *lines = kept.empty() ? std::vector<std::string>(1) : kept;
  const std::string_view prefix(expected);
  return wellFormed && line.size() >= prefix.size() && line.compare(0, prefix.size(), prefix) == 0;
}

std::string CSmtpClient::GreetingName() const {
  if (!m_options.heloName.empty()) return m_options.heloName;
  if (!GetLocalHostName().empty()) return GetLocalHostName();
  // Without a name, the address literal of this end of the connection
  // (RFC 5321 section 4.1.3); an empty name is refused by relays.
  const std::string& address = GetLocalAddress();
  if (address.find(':') != std::string::npos) return "[IPv6:" + address + "]";
  if (!address.empty()) return "[" + address + "]";
  return std::string();
}

bool CSmtpClient::Connect(const std::string& host, long port) {
  // A new connection knows nothing of an earlier one's EHLO.
  m_identified = false;
  m_ehloKeywords.clear();
  m_quitSent = false;
  m_outcome.stage = RunStage::kConnect;
  const bool opened = m_options.tlsMode == kImplicitTls ? Open(host, "submissions", 465, port)
                                                : Open(host, "smtp", 25, port);
  // Only a port out of range is sure to fail again; a name without an
  // address may be the resolver's passing failure.
  if (!opened) {
    m_outcome.Fail(FailureKind::kConnect, ConnectFailure(),
                   !ConnectFailure().starts_with("Invalid port"));
  }
  return opened;
}

bool CSmtpClient::Login() {
  m_outcome.stage = RunStage::kTls;
  if (m_options.tlsMode == kImplicitTls && !SecureConnection()) return false;
  m_outcome.stage = RunStage::kGreeting;
  if (!ReadReply("2")) return false;
  m_outcome.stage = RunStage::kTls;
  if (m_options.tlsMode == kStartTls && !SendStartTls()) return false;
  m_outcome.stage = RunStage::kGreeting;
  // Over TLS the relay's keywords are read even when nothing needs them yet.
  if (m_options.tlsMode != kNoTls && !Ehlo()) return false;
  if (m_userName.empty() && m_password.empty()) return m_identified || Helo();
  m_outcome.stage = RunStage::kAuth;
  return Authenticate();
}

bool CSmtpClient::Helo() {
  if (!NothingWaiting()) return false;
  SendFormatted("HELO %s\r\n", GreetingName().c_str());
  return ReadReply("2");
}

bool CSmtpClient::Quit() {
  if (m_authPending) {
    SendFormatted("QUIT\r\n");
    m_quitSent = true;
    GatherSends(false);
    if (!ReadPendingAuth()) return false;
  }
  m_outcome.stage = RunStage::kQuit;
  if (!m_quitSent) SendFormatted("QUIT\r\n");
  m_quitSent = false;
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
