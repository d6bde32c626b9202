// Securing the session: implicit TLS before the greeting, or STARTTLS after
// the first EHLO. Nothing falls back to clear text.
#include <string>
#include <string_view>
#include <vector>

#include "base/printable_text.h"
#include "net/tls_failure.h"
#include "smtp/smtp_client.h"

namespace {

// A relay's reply line made fit for an error line: no control bytes reach
// the terminal, and a flood is cut.
std::string Printable(const std::string& line) {
  constexpr size_t kLongest = 200;
  std::string text;
  AppendPrintable(text, std::string_view(line).substr(0, kLongest), kReplyText);
  return text;
}

}  // namespace

void CSmtpClient::FailTls(const std::string& reason, bool transient) {
  m_outcome.Fail(FailureKind::kTls, reason, transient);
}

bool CSmtpClient::SecureConnection() {
  platform::TlsFailure failure;
  if (StartTls(m_options.tls, failure)) return true;
  FailTls(TlsFailureText(failure), TlsFailureIsTransient(failure));
  return false;
}

bool CSmtpClient::SendStartTls() {
  if (!Ehlo()) {
    // Answering EHLO with an error is how a relay would push a client back
    // to HELO and clear text.
    const bool transient = m_outcome.reply.empty() || m_outcome.reply.back()[0] == '4';
    FailTls("the relay refused EHLO, so it does not offer STARTTLS", transient);
    return false;
  }
  if (m_ehloKeywords.count("STARTTLS") == 0) {
    FailTls("the relay does not offer STARTTLS");
    return false;
  }
  if (!NothingWaiting()) {
    FailTls("the relay sent data before it was asked");
    return false;
  }
  SendFormatted("STARTTLS\r\n");
  std::vector<std::string> lines;
  if (!ReadReply("220", Timeouts().replyMs, &lines)) {
    const bool silent = lines.empty() || lines.back().empty();
    FailTls(silent ? "the relay gave no answer to STARTTLS"
                   : "the relay refused STARTTLS: " + Printable(lines.back()),
            silent || lines.back()[0] == '4');
    return false;
  }
  // Bytes sent before the handshake would otherwise be read as if they had
  // come through TLS.
  if (!NothingWaiting()) {
    FailTls("the relay sent data after accepting STARTTLS");
    return false;
  }
  // What the relay said in clear text may have been forged.
  m_ehloKeywords.clear();
  m_identified = false;
  return SecureConnection();
}
