#include "app/dry_run.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "app/run_failure.h"
#include "smtp/smtp_client.h"

namespace {

class CStandardOutputSink : public CTextSink {
 public:
  void Write(std::string_view text) override {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) m_failed = true;
  }
  bool Finish() { return std::fflush(stdout) == 0 && !m_failed && !std::ferror(stdout); }

 private:
  bool m_failed = false;
};

}  // namespace

SendResult WriteDryRun(CSmtpClient& client) {
  // The same writer as for the relay; only the dot-stuffing, which belongs
  // to SMTP alone, is left out.
  CStandardOutputSink sink;
  client.m_dotStuffing = false;
  client.DivertSends(&sink);
  // A file that changed between the passes leaves the message cut short: the
  // run fails as a real send would rather than show it as whole.
  const bool whole = client.WriteMessageData();
  client.DivertSends(nullptr);
  client.m_dotStuffing = true;
  const bool written = sink.Finish();
  if (!whole) return PrintFailure(client.m_outcome, DeliveryStep::kSend, std::string());
  if (!written) {
    std::fputs("Cannot write the message to standard output\n", stderr);
    std::fflush(stderr);
    return ERROR_SENDING_MAIL;
  }

  // One MAIL line per transaction that --max-recipients makes.
  const std::string mail = CSmtpClient::MailFromCommand(client.m_originatorAddress) + "\n";
  const size_t limit = static_cast<size_t>(client.Options().maxRecipients);
  std::string envelope = mail;
  std::string address;
  std::string name;
  for (size_t i = 0; i < client.m_recipients.size(); ++i) {
    if (limit > 0 && i > 0 && i % limit == 0) envelope += mail;
    CSmtpClient::SplitAddress(client.m_recipients[i], address, name);
    envelope += CSmtpClient::RcptToCommand(address) + "\n";
  }
  std::fputs(envelope.c_str(), stderr);
  std::fflush(stderr);
  return ERROR_NONE;
}
