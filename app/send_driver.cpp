#include "app/send_driver.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/switches.h"
#include "app/usage.h"
#include "smtp/smtp_client.h"

namespace {

SendResult Usage(SendResult status) {
  PrintUsage();
  return status;
}

void Diagnostic(const char* format, const std::string& text) {
  std::fprintf(stderr, format, text.c_str());
  std::fflush(stderr);
}

}  // namespace

SendResult SendFromCommandLine() {
  // Test aid: VELSEND_TIMEOUT_MS=N shortens every wait to N ms (the final
  // reply to 2N) so that a silent relay can be tested quickly.
  const char* text = std::getenv("VELSEND_TIMEOUT_MS");
  if (text && *text) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (*end == '\0' && value > 0) {
      int n = static_cast<int>(std::min<long>(value, INT_MAX / 2));
      SLineTimeouts timeouts{n, n, 2 * n, n};
      return SendFromCommandLine(SwitchTable(), &timeouts);
    }
  }
  return SendFromCommandLine(SwitchTable());
}

SendResult SendFromCommandLine(const CSwitchCommandLineInfo& switches,
                               const SLineTimeouts* timeouts) {
  CSmtpClient client(switches.HasSwitch("q"));
  if (timeouts) client.SetTimeouts(*timeouts);
  std::string value;
  std::vector<std::string> list;

  if (!switches.LookupSwitch("o", value)) return Usage(ERROR_NO_ORIGINATOR);
  client.SetOriginator(value);

  if (!switches.LookupSwitch("r", value)) return Usage(ERROR_NO_RECIPIENTS);
  SplitList(value, list, ',');
  for (const std::string& entry : list) client.AddRecipient(entry);
  list.clear();

  if (!switches.LookupSwitch("s", client.m_subject)) return Usage(ERROR_NO_SUBJECT);

  if (!switches.LookupSwitch("h", value)) return Usage(ERROR_NO_HOST);
  std::string host;
  long port = 0;
  SplitHostPort(value, host, port);

  if (switches.LookupSwitch("n", value)) client.SetUserName(value);
  if (switches.LookupSwitch("p", value)) client.SetPassword(value);

  if (switches.LookupSwitch("m", value)) {
    client.AuthMethod = ParseAuthMethod(value);
    if (client.AuthMethod == 0) return Usage(ERROR_INVALID_ESMTP_METHOD);
  }

  if (switches.LookupSwitch("c", value)) {
    SplitList(value, list, ',');
    for (const std::string& entry : list) client.AddCcRecipient(entry);
    list.clear();
  }
  if (switches.LookupSwitch("C", value)) {
    SplitList(value, list, ',');
    for (const std::string& entry : list) client.AddBccRecipient(entry);
    list.clear();
  }
  switches.LookupSwitch("R", client.m_replyTo);
  switches.LookupSwitch("l", client.m_headerCharset);

  client.m_uuencodeMode = switches.HasSwitch("u") || switches.HasSwitch("U");
  client.m_forceUuencode = switches.HasSwitch("U");

  if (switches.LookupSwitch("f", value)) {
    std::vector<std::string> files;
    SplitList(value, files, ',');
    std::string charset;
    switches.LookupSwitch("l", charset);
    for (const std::string& entry : files) {
      std::string fileName = entry;
      bool attachment = false;
      bool withholdName = true;
      if (!entry.empty() && (entry[0] == '+' || entry[0] == '#')) {
        if (client.m_uuencodeMode) {
          Diagnostic(entry[0] == '+' ? "Warning: %s,'+' ignored on non MIME message\n"
                                     : "Warning: %s,'#' ignored on non MIME message\n",
                     entry);
        }
        fileName = entry.substr(1);
        attachment = entry[0] == '+';
        withholdName = false;
      }
      if (!client.AddPart(fileName, attachment, charset, withholdName)) {
        Diagnostic(">>Error attaching file %s\n", fileName);
        return ERROR_ATACHING_FILE;
      }
    }
  }

  if (!client.Connect(host, port)) {
    Diagnostic("Couldn't connect to %s\n", host);
    return ERROR_CONNECTING_TO_HOST;
  }
  if (!client.Login()) {
    Diagnostic("Couldn't authenticate with %s\n", host);
    return ERROR_AUTHENTICATING;
  }
  if (!client.SendMail()) {
    Diagnostic("Error sending to %s\n", host);
    return ERROR_SENDING_MAIL;
  }
  if (!client.Quit()) {
    Diagnostic("Error closing the connection to %s\n", host);
    return ERROR_CLOSING_CONNECTION;
  }
  return ERROR_NONE;
}
