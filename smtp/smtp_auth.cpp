#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "smtp/auth_mechanisms.h"
#include "smtp/base64_encoder.h"
#include "smtp/smtp_client.h"

namespace {

// Credentials go to the relay as they are but never into the trace: the
// trace shows the first `position` bytes of the line and a mask for the rest.
class CTraceMask {
 public:
  CTraceMask(CLineSocket& socket, int position) : m_socket(socket) {
    m_socket.SetTraceMask(position);
  }
  ~CTraceMask() { m_socket.SetTraceMask(-1); }
  CTraceMask(const CTraceMask&) = delete;
  CTraceMask& operator=(const CTraceMask&) = delete;

 private:
  CLineSocket& m_socket;
};

// The text of a 334 line after its code and blank.
std::string ChallengeText(const std::string& line) {
  return line.size() > 4 ? line.substr(4) : std::string();
}

}  // namespace

bool CSmtpClient::Authenticate() {
  int mechanism = AuthMethod;
  // Only over TLS are the relay's keywords trusted enough to choose by.
  if (m_options.tlsMode != kNoTls) {
    const auto auth = m_ehloKeywords.find("AUTH");
    const std::string offered = auth == m_ehloKeywords.end() ? std::string() : auth->second;
    if (ShownMechanisms(offered).empty()) {
      m_outcome.Fail(FailureKind::kNotAsked, "The relay does not offer authentication\n");
      return false;
    }
    mechanism = ChooseAuthMechanism(offered, AuthMethod);
    if (mechanism == kAuthUnset) {
      const std::string wanted =
          AuthMethod == kAuthUnset ? "PLAIN, LOGIN or CRAM-MD5" : AuthMechanismName(AuthMethod);
      m_outcome.Fail(FailureKind::kNotAsked, "The relay does not offer AUTH " + wanted +
                                                 " (it offers: " + ShownMechanisms(offered) +
                                                 ")\n");
      return false;
    }
  }
  switch (mechanism) {
    case kAuthLogin:
      return AuthLogin();
    case kAuthCramMd5:
      return AuthCramMd5();
    case kAuthXoauth2:
    case kAuthOauthBearer:
      return AuthBearer(mechanism);
    default:
      return AuthPlain();
  }
}

bool CSmtpClient::AuthLogin() {
  if (!m_identified && !Ehlo()) return false;
  if (!NothingWaiting()) return false;
  SendFormatted("AUTH LOGIN\r\n");
  if (!ReadReply("334")) return false;
  CBase64Encoder encoder;
  if (!NothingWaiting()) return false;
  {
    CTraceMask mask(*this, 0);
    SendFormatted("%s\r\n", encoder.EncodeText(m_userName.c_str()).c_str());
  }
  if (!ReadReply("334")) return false;
  if (!NothingWaiting()) return false;
  {
    CTraceMask mask(*this, 0);
    SendFormatted("%s\r\n", encoder.EncodeText(m_password.c_str()).c_str());
  }
  // Only 235 accepts the password; any other reply, 2xx included, refuses it.
  return ReadReply("235");
}

bool CSmtpClient::AuthPlain() {
  if (!m_identified && !Ehlo()) return false;
  if (!NothingWaiting()) return false;
  std::string encoded;
  {
    const std::string credential = PlainCredential(m_userName, m_password);
    encoded = CBase64Encoder().EncodeBytes(credential.data(), credential.size());
  }
  if (!NothingWaiting()) return false;
  // Pipelined, the command waits in the gathered block for the envelope; a
  // refusal then fails the transaction before anything could be delivered.
  m_authRefused = false;
  if (OffersPipelining()) {
    GatherSends(true);
    m_authPending = true;
  }
  {
    CTraceMask mask(*this, 11);  // after "AUTH PLAIN "
    SendFormatted("AUTH PLAIN %s\r\n", encoded.c_str());
  }
  return m_authPending || ReadReply("2");
}

bool CSmtpClient::ReadPendingAuth() {
  if (!std::exchange(m_authPending, false)) return true;
  m_outcome.stage = RunStage::kAuth;
  m_authRefused = !ReadReply("2");
  return !m_authRefused;
}

bool CSmtpClient::AuthCramMd5() {
  if (!m_identified && !Ehlo()) return false;
  if (!NothingWaiting()) return false;
  SendFormatted("AUTH CRAM-MD5\r\n");
  std::vector<std::string> lines;
  if (!ReadReply("334", Timeouts().replyMs, &lines)) return false;
  std::string challenge;
  // A challenge that is not base64 cannot be answered; nothing more is sent.
  if (!DecodeBase64(ChallengeText(lines.back()), challenge) || challenge.empty()) return false;
  const std::string response = CramMd5Response(m_userName, m_password, challenge);
  if (response.empty()) return false;
  if (!NothingWaiting()) return false;
  {
    // The answer names the user.
    CTraceMask mask(*this, 0);
    SendFormatted("%s\r\n", CBase64Encoder().EncodeBytes(response.data(), response.size()).c_str());
  }
  return ReadReply("235");
}

bool CSmtpClient::AuthBearer(int mechanism) {
  if (!m_identified && !Ehlo()) return false;
  if (!NothingWaiting()) return false;
  const std::string credential =
      mechanism == kAuthXoauth2
          ? Xoauth2Credential(m_userName, m_password)
          : OauthBearerCredential(m_userName, m_options.tls.hostName.empty()
                                                  ? GetRemoteHostName()
                                                  : m_options.tls.hostName,
                                  GetRemotePort(), m_password);
  const std::string encoded = CBase64Encoder().EncodeBytes(credential.data(), credential.size());
  const char* name = AuthMechanismName(mechanism);
  {
    CTraceMask mask(*this, static_cast<int>(std::strlen("AUTH  ") + std::strlen(name)));
    SendFormatted("AUTH %s %s\r\n", name, encoded.c_str());
  }
  std::vector<std::string> lines;
  if (ReadReply("235", Timeouts().replyMs, &lines)) return true;
  if (lines.empty() || lines.back().compare(0, 3, "334") != 0) return false;
  // The relay's reason is base64 JSON; the exchange ends only once the
  // client answers it, with an empty line, and the relay sends its refusal.
  std::string reason;
  if (DecodeBase64(ChallengeText(lines.back()), reason)) TraceDecoded(reason);
  if (!NothingWaiting()) return false;
  SendFormatted("\r\n");
  ReadReply("5");
  return false;
}
