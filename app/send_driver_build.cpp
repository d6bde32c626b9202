// The first step of a run: the switches checked in their fixed order and
// the whole message built and encoded, before any relay is contacted.
#include <string>
#include <vector>

#include "app/compose_options.h"
#include "app/long_options.h"
#include "app/password_source.h"
#include "app/recipient_limit.h"
#include "app/send_driver.h"
#include "app/send_driver_parts.h"
#include "app/switches.h"
#include "mime/address.h"
#include "mime/charset_table.h"
#include "platform/socket.h"
#include "smtp/auth_mechanisms.h"
#include "smtp/smtp_client.h"

namespace send_driver {

namespace {

using AddEntry = bool (CSmtpClient::*)(const std::string&);

// TLS from the long options; a port of 465 can only be implicit TLS.
void ConfigureTls(const CLongOptions& options, const SRelay& relay, SClientOptions& settings) {
  if (options.Has("starttls")) {
    settings.tlsMode = SClientOptions::kStartTls;
  } else if (options.Has("tls") || relay.port == 465) {
    settings.tlsMode = SClientOptions::kImplicitTls;
  }
  settings.tls.hostName = relay.host;
  options.Lookup("cacert", settings.tls.caFile);
  settings.tls.verify = !options.Has("insecure");
}

void ConfigureFamilies(const CLongOptions& options, CSmtpClient& client) {
  if (options.Has("ipv4")) client.SetAddressFamilies(platform::AddressFamilies::kIPv4Only);
  if (options.Has("ipv6")) client.SetAddressFamilies(platform::AddressFamilies::kIPv6Only);
}

// Refused before any connection, so that nothing after the address reaches
// the envelope; the entry is shown as it was given.
bool CheckAddress(const std::string& entry) {
  std::string address;
  std::string name;
  CSmtpClient::SplitAddress(entry, address, name);
  if (IsValidAddress(address)) return true;
  Diagnostic("Invalid address %s\n", entry);
  return false;
}

// A Reply-To value folds at its blanks: no word of it may be longer than
// an address in brackets with the list's comma.
bool ReplyToFits(const std::string& value) {
  size_t word = 0;
  for (char c : value) {
    word = (c == ' ' || c == '\t') ? 0 : word + 1;
    if (word > kMaxAddress + 3) return false;
  }
  return true;
}

// Adds every item of a comma list; false at the first invalid address.
bool AddRecipients(CSmtpClient& client, AddEntry add, const std::string& value) {
  std::vector<std::string> list;
  SplitList(value, list, ',');
  for (const std::string& entry : list) {
    if (!CheckAddress(entry)) return false;
    (client.*add)(entry);
  }
  return true;
}

// Every part is read and encoded here, before the relay is contacted.
SendResult AddParts(CSmtpClient& client, const CSwitchCommandLineInfo& switches,
                    const SComposeOptions& compose) {
  std::string value;
  const bool listed = switches.LookupSwitch("f", value);
  if (!listed && !ComposesMessageText(compose)) return ERROR_NONE;
  std::vector<std::string> files;
  SplitList(value, files, ',');
  std::string charset;
  switches.LookupSwitch("l", charset);
  // The composed text takes the place of the entry that stands for the
  // message text, or comes first.
  size_t textEntry = files.size();
  for (size_t i = 0; i < files.size() && textEntry == files.size(); ++i) {
    if (ParseFileEntry(files[i]).fileName.empty()) textEntry = i;
  }
  const bool typedEntry = textEntry < files.size();
  if (ComposesMessageText(compose) && !typedEntry) {
    files.insert(files.begin(), std::string());
    textEntry = 0;
  }
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string& text = files[i];
    if (i == textEntry && ComposesMessageText(compose)) {
      const SendResult status = AddComposedText(client, compose, typedEntry, charset);
      if (status != ERROR_NONE) return status;
      continue;
    }
    const SFileEntry entry = ParseFileEntry(text);
    if (entry.marker != '\0' && client.m_uuencodeMode) {
      Diagnostic(entry.marker == '+' ? "Warning: %s,'+' ignored on non MIME message\n"
                                     : "Warning: %s,'#' ignored on non MIME message\n",
                 text);
    }
    if (!client.AddPart(entry.fileName, entry.attachment, charset, entry.withholdName)) {
      if (!client.m_outcome.detail.empty()) {
        const std::string source =
            entry.fileName.empty() ? std::string("standard input") : entry.fileName;
        Diagnostic("%s\n", "Cannot read " + source + ": " + client.m_outcome.detail);
      }
      Diagnostic(">>Error attaching file %s\n", entry.fileName);
      return ERROR_ATACHING_FILE;
    }
  }
  return ERROR_NONE;
}

}  // namespace

SendResult BuildMessage(CSmtpClient& client, const CSwitchCommandLineInfo& switches,
                        SRelay& relay, SClientOptions& settings) {
  std::string value;

  if (!switches.LookupSwitch("o", value)) return Usage(ERROR_NO_ORIGINATOR);
  if (!CheckAddress(value)) return ERROR_NO_ORIGINATOR;
  client.SetOriginator(value);

  if (!switches.LookupSwitch("r", value)) return Usage(ERROR_NO_RECIPIENTS);
  if (!AddRecipients(client, &CSmtpClient::AddRecipient, value)) return ERROR_NO_RECIPIENTS;

  if (!switches.LookupSwitch("s", client.m_subject)) return Usage(ERROR_NO_SUBJECT);

  // A dry run contacts no relay and needs none.
  if (switches.LookupSwitch("h", value)) {
    std::string badPort;
    if (!SplitHostPort(value, relay.host, relay.port, &badPort)) {
      if (!badPort.empty()) {
        Diagnostic("Invalid port %s\n", badPort);
        return ERROR_CONNECTING_TO_HOST;
      }
      Diagnostic("Invalid host %s\n", value);
      return ERROR_CONNECTING_TO_HOST;
    }
  } else if (!switches.LongOptions().Has("dry-run")) {
    return Usage(ERROR_NO_HOST);
  }
  ConfigureTls(switches.LongOptions(), relay, settings);
  ConfigureFamilies(switches.LongOptions(), client);
  switches.LongOptions().Lookup("helo", settings.heloName);
  settings.chunking = !switches.LongOptions().Has("no-chunking");
  if (switches.LongOptions().Lookup("max-recipients", value)) {
    ParseRecipientLimit(value, settings.maxRecipients);
  }

  if (switches.LookupSwitch("n", value)) client.SetUserName(value);

  if (switches.LookupSwitch("m", value)) {
    client.AuthMethod = ParseAuthMethod(value);
    if (client.AuthMethod == 0) return Usage(ERROR_INVALID_ESMTP_METHOD);
  }

  // Refused as a faulty switch is, before a password is asked for or
  // anything is read.
  SComposeOptions compose;
  const bool uuencode = switches.HasSwitch("u") || switches.HasSwitch("U");
  if (!ReadComposeOptions(switches.LongOptions(), uuencode, client.m_originatorAddress,
                          compose)) {
    return ERROR_INVALID_ARGUMENT;
  }
  settings.extraFields = compose.fields;

  // Before the message text is read and long before the relay is contacted.
  std::string reason;
  const PasswordOutcome password =
      ObtainPassword(switches, !client.m_userName.empty(), value, reason);
  if (password == PasswordOutcome::kFailed) {
    Diagnostic("Couldn't get the password: %s\n", reason);
    return ERROR_AUTHENTICATING;
  }
  if (password == PasswordOutcome::kFound) client.SetPassword(value);

  if (switches.LookupSwitch("c", value) &&
      !AddRecipients(client, &CSmtpClient::AddCcRecipient, value)) {
    return ERROR_NO_RECIPIENTS;
  }
  if (switches.LookupSwitch("C", value) &&
      !AddRecipients(client, &CSmtpClient::AddBccRecipient, value)) {
    return ERROR_NO_RECIPIENTS;
  }
  // Reply-To only ever reaches the header block, never the envelope; an
  // address too long for any header line is refused as in the envelope.
  if (switches.LookupSwitch("R", client.m_replyTo) && !ReplyToFits(client.m_replyTo)) {
    Diagnostic("Invalid address %s\n", client.m_replyTo);
    return ERROR_INVALID_ARGUMENT;
  }
  if (switches.LookupSwitch("l", client.m_headerCharset) &&
      !IsCharsetName(client.m_headerCharset)) {
    Diagnostic("Invalid charset %s\n", client.m_headerCharset);
    return ERROR_INVALID_ARGUMENT;
  }

  // Set before the first part is added, which reads them.
  client.m_uuencodeMode = switches.HasSwitch("u") || switches.HasSwitch("U");
  client.m_forceUuencode = switches.HasSwitch("U");

  return AddParts(client, switches, compose);
}

}  // namespace send_driver

SFileEntry ParseFileEntry(const std::string& entry) {
  SFileEntry parsed;
  parsed.fileName = entry;
  if (!entry.empty() && (entry[0] == '+' || entry[0] == '#')) {
    parsed.marker = entry[0];
    parsed.fileName = entry.substr(1);
    parsed.attachment = entry[0] == '+';
    parsed.withholdName = false;
  }
  return parsed;
}
