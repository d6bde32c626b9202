#include "app/dry_run.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/process.h"
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

void Failure(const std::string& line) {
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace

SendResult WriteDryRun(CSmtpClient& client) {
  // Written to the null device that stands in for a closed standard output,
  // the message would be lost while the run reports success.
  if (platform::WasClosedAtStart(1)) {
    Failure("Cannot write the message to standard output: it is closed\n");
    return ERROR_SENDING_MAIL;
  }
  // The same writer as for the relay; only the dot-stuffing, which belongs
  // to SMTP alone, is left out.
  CStandardOutputSink sink;
  client.m_dotStuffing = false;
  client.DivertSends(&sink);
  const bool whole = client.WriteMessageData();
  client.DivertSends(nullptr);
  client.m_dotStuffing = true;
  const bool written = sink.Finish();
  // A file that changed between its two readings leaves the message cut
  // short, as it would leave the data of a real send unfinished.
  if (!whole) {
    Failure(client.m_changedFile.empty()
                ? client.m_failureLine
                : client.m_changedFile + " changed while the message was being sent\n");
    return ERROR_SENDING_MAIL;
  }
  if (!written) {
    Failure("Cannot write the message to standard output\n");
    return ERROR_SENDING_MAIL;
  }

  std::string envelope = CSmtpClient::MailFromCommand(client.m_originatorAddress) + "\n";
  std::string address;
  std::string name;
  for (const std::string& entry : client.m_recipients) {
    CSmtpClient::SplitAddress(entry, address, name);
    envelope += CSmtpClient::RcptToCommand(address) + "\n";
  }
  std::fputs(envelope.c_str(), stderr);
  std::fflush(stderr);
  return ERROR_NONE;
}
