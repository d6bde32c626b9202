#include "app/send_driver.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/account_settings.h"
#include "app/argument_charset.h"
#include "app/compose_options.h"
#include "app/dry_run.h"
#include "app/exit_codes.h"
#include "app/long_options.h"
#include "app/oauth_run.h"
#include "app/password_source.h"
#include "app/progress_meter.h"
#include "app/providers.h"
#include "app/recipient_limit.h"
#include "app/retry_policy.h"
#include "app/run_failure.h"
#include "app/run_report.h"
#include "app/switches.h"
#include "app/usage.h"
#include "mime/address.h"
#include "mime/charset_table.h"
#include "platform/clock.h"
#include "platform/config_file.h"
#include "platform/whole_file.h"
#include "platform/socket.h"
#include "platform/terminal.h"
#include "smtp/auth_mechanisms.h"
#include "smtp/smtp_client.h"

namespace {

using AddEntry = bool (CSmtpClient::*)(const std::string&);

struct SRelay {
  std::string host;
  long port = 0;
};

SendResult Usage(SendResult status) {
  PrintUsage();
  return status;
}

void Diagnostic(const char* format, const std::string& text) {
  std::fprintf(stderr, format, text.c_str());
  std::fflush(stderr);
}

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

// Validates the switches in their fixed order and fills the client with the
// whole message; relay receives the host and port, settings the client's
// options.
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

// --progress: the meter watches the data phase on standard error.
std::unique_ptr<CProgressMeter> MakeProgressMeter(CSmtpClient& client, bool quiet) {
  CProgressMeter::Style style = CProgressMeter::kDeciles;
  // The trace would break into a line rewritten in place.
  if (platform::IsStandardErrorTerminal()) {
    style = quiet ? CProgressMeter::kInPlace : CProgressMeter::kTimedLines;
  }
  auto write = [](const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
  };
  return std::make_unique<CProgressMeter>(style, client.MessageDataSize(), write,
                                          platform::MonotonicMs);
}

// meter, when given, shows its final state before any error line. oauth,
// when given, renews a token the relay refused, once, and the run connects
// again with the new one.
SendResult Deliver(CSmtpClient& client, const SRelay& relay, CProgressMeter* meter, bool quiet,
                   COAuthRun* oauth = nullptr, const std::string& token = std::string()) {
  if (!client.Connect(relay.host, relay.port)) {
    return PrintFailure(client.m_outcome, DeliveryStep::kConnect, relay.host);
  }
  // An AUTH sent ahead with the envelope (PIPELINING) is refused in
  // SendMail or Quit; it fails the run as a refused login does.
  const auto refusedLogin = [&]() -> SendResult {
    // A token the relay refused is renewed once; a failure before the relay
    // was asked, or of the secure connection, is final.
    if (oauth && client.m_outcome.failure == FailureKind::kNone) {
      std::string renewed;
      const SendResult status = oauth->Renew(token, renewed);
      if (status != ERROR_NONE) return status;
      client.Close();
      client.m_outcome = SRunOutcome();
      client.SetPassword(renewed);
      return Deliver(client, relay, meter, quiet);
    }
    return PrintFailure(client.m_outcome, DeliveryStep::kLogin, relay.host);
  };
  if (!client.Login()) return refusedLogin();
  const bool sent = client.SendMail();
  if (meter) meter->Finish();
  if (!sent && client.AuthRefused()) return refusedLogin();
  if (!sent) return PrintFailure(client.m_outcome, DeliveryStep::kSend, relay.host, quiet);
  if (!client.Quit()) {
    if (client.AuthRefused()) return refusedLogin();
    return PrintFailure(client.m_outcome, DeliveryStep::kQuit, relay.host);
  }
  return ERROR_NONE;
}

// --retry: a failure that trying again may mend, before the end of the data
// was ever sent, is tried again on a new connection with the same message
// (its Date and Message-ID were fixed by the first writing). Past the end of
// the data the relay may have taken the message: never again.
SendResult DeliverWithRetries(CSmtpClient& client, const SRelay& relay, CProgressMeter* meter,
                              bool quiet, COAuthRun* oauth, const std::string& token,
                              const SRetryPolicy& policy, CEnvironment& environment,
                              int& attempts) {
  for (attempts = 1;; ++attempts) {
    const SendResult status = Deliver(client, relay, meter, quiet, oauth, token);
    if (status == ERROR_NONE || attempts > policy.retries ||
        !IsTemporaryFailure(client.m_outcome, status) || client.m_outcome.dataEnded) {
      return status;
    }
    const int waitMs = RetryWaitMs(policy, attempts, platform::RandomValue());
    std::fprintf(stderr, "Attempt %d of %d failed; trying again in %d.%03d s\n", attempts,
                 policy.retries + 1, waitMs / 1000, waitMs % 1000);
    std::fflush(stderr);
    client.Close();
    client.m_outcome = SRunOutcome();
    client.m_recipientCursor = 0;
    environment.Pause(waitMs);
  }
}

// What --report says of a run that ended with status after attempts tries.
SRunReport MakeReport(const CSmtpClient* client, SendResult status, ExitConvention convention,
                      int attempts, int64_t elapsedMs) {
  SRunReport report;
  const SRunOutcome outcome = client ? client->m_outcome : SRunOutcome();
  report.temporary = IsTemporaryFailure(outcome, status);
  report.status = ExitStatus(status, report.temporary, outcome.stage, convention);
  report.statusName = ExitStatusName(report.status, convention);
  report.stage = outcome.stage;
  // A delivered run is told by the acceptance of its data, not by QUIT's reply.
  report.reply = status == ERROR_NONE && outcome.finalReplyCame ? outcome.finalReply
                                                                : outcome.reply;
  report.recipients = outcome.recipients;
  if (client && client->m_stamp) {
    report.messageId = FormatMessageId(
        *client->m_stamp, MessageIdDomain(client->m_originatorAddress, client->GetLocalHostName()));
  }
  if (outcome.delivered > 0) report.queueId = QueueIdFromReply(outcome.finalReply);
  report.bytes = outcome.dataBytes;
  report.transactions = outcome.transactions;
  report.attempts = attempts;
  report.elapsedMs = elapsedMs;
  report.deliveryUnknown = IsDeliveryUnknown(outcome, status);
  return report;
}

// --report=FILE ("-": standard output), written whole or not at all.
void WriteReport(const std::string& target, const std::string& text) {
  if (target == "-") {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return;
  }
  std::string error;
  if (!platform::ReplaceWholeFile(target, text, error)) {
    Diagnostic("Couldn't write the report: %s\n", error);
  }
}

SendResult OAuthLogin(const CLongOptions& options) {
  SOAuthAccountKeys keys;
  if (!OAuthKeysFromOptions(options, keys)) {
    Diagnostic("%s", "Option --oauth-login needs an account with oauth (or --oauth)\n");
    return ERROR_INVALID_ARGUMENT;
  }
  SLineTimeouts timeouts;
  OAuthConfig config;
  if (!PrepareOAuthConfig(keys, options.Timeouts(timeouts) ? timeouts.connectMs : 0, config)) {
    return ERROR_AUTHENTICATING;
  }
  return RunOAuthLogin(config);
}

}  // namespace

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

namespace {

// The run itself; client receives the client once one is made, attempts
// the count of tries of the relay.
SendResult RunSend(const CSwitchCommandLineInfo& commandLine, CEnvironment& environment,
                   std::optional<CSmtpClient>& made, int& attempts) {
  // A mistyped long option must never let the run go ahead, in clear text
  // or otherwise.
  bool showUsage = false;
  const std::string fault = commandLine.LongOptions().Fault(showUsage);
  if (!fault.empty()) {
    Diagnostic("%s", fault);
    if (fault.rfind("Invalid value for --provider", 0) == 0) {
      Diagnostic("Known providers: %s\n", ProviderNames());
    }
    return showUsage ? Usage(ERROR_INVALID_ARGUMENT) : ERROR_INVALID_ARGUMENT;
  }
  const std::string sources = PasswordSourceFault(commandLine);
  if (!sources.empty()) {
    Diagnostic("%s", sources);
    return Usage(ERROR_INVALID_ARGUMENT);
  }
  // Accounts and providers: every mistake is named before anything is read
  // or sent.
  CAccountSettings accounts;
  const bool withAccounts = CAccountSettings::Wanted(commandLine);
  if (withAccounts) {
    std::string problem;
    if (!accounts.Resolve(commandLine, platform::ConfigFilePath(), problem)) {
      Diagnostic("%s\n", problem);
      return ERROR_INVALID_ARGUMENT;
    }
  }
  const CSwitchCommandLineInfo& switches = withAccounts ? accounts.Switches() : commandLine;
  const CLongOptions& options = switches.LongOptions();

  // --oauth-login signs in and sends nothing.
  if (options.Has("oauth-login")) return OAuthLogin(options);

  // Refused before anything is read: a character -l cannot hold would
  // otherwise go out as a question mark under a label that lies.
  CSwitchCommandLineInfo written = switches;
  std::string headerCharset;
  if (!WriteArgumentsInCharset(written, headerCharset)) return ERROR_INVALID_ARGUMENT;

  // A dry run has no connection to trace.
  const bool dryRun = options.Has("dry-run");
  const bool quiet = switches.HasSwitch("q");
  CSmtpClient& client = made.emplace(quiet || dryRun, environment);
  SLineTimeouts fromOption;
  if (options.Timeouts(fromOption)) client.SetTimeouts(fromOption);
  const int fromOptionMs = options.Has("timeout") ? fromOption.connectMs : 0;
  SRelay relay;
  SClientOptions settings = client.Options();
  const SendResult built = BuildMessage(client, written, relay, settings);
  if (built != ERROR_NONE) return built;
  if (!headerCharset.empty()) client.m_headerCharset = headerCharset;
  if (dryRun) {
    // The connection first, so that the envelope stays the last lines.
    if (withAccounts) Diagnostic("%s", accounts.DescribeConnection());
    client.SetOptions(settings);
    return WriteDryRun(client);
  }

  // OAuth 2.0: the token is the password, XOAUTH2 unless -m says otherwise.
  SOAuthAccountKeys oauthKeys;
  OAuthConfig oauthConfig;
  std::unique_ptr<COAuthRun> oauth;
  std::string token;
  if (OAuthKeysFromOptions(options, oauthKeys)) {
    if (!PrepareOAuthConfig(oauthKeys, fromOptionMs, oauthConfig)) return ERROR_AUTHENTICATING;
    oauth = std::make_unique<COAuthRun>(oauthConfig);
    const SendResult status = oauth->Token(token);
    if (status != ERROR_NONE) return status;
    client.SetPassword(token);
    if (client.AuthMethod == 0) client.AuthMethod = kAuthXoauth2;
  }

  std::unique_ptr<CProgressMeter> meter;
  if (options.Has("progress")) {
    // The meter counts the message as it will be sent, extra fields included.
    client.SetOptions(settings);
    meter = MakeProgressMeter(client, quiet);
    settings.dataWatcher = meter.get();
  }
  client.SetOptions(settings);
  SRetryPolicy policy;
  std::string text;
  if (options.Lookup("retry", text)) ParseRetryCount(text, policy.retries);
  if (options.Lookup("retry-delay", text)) ParseRetryDelay(text, policy.delaySeconds);
  return DeliverWithRetries(client, relay, meter.get(), quiet, oauth.get(), token, policy,
                            environment, attempts);
}

}  // namespace

ExitConvention ExitConventionOf(const CSwitchCommandLineInfo& switches) {
  ExitConvention convention = ExitConvention::kClassic;
  std::string text;
  if (switches.LongOptions().Lookup("exit-codes", text)) ParseExitConvention(text, convention);
  return convention;
}

SendResult SendFromCommandLine(const CSwitchCommandLineInfo& switches, CEnvironment& environment,
                               SRunVerdict* verdict) {
  const int64_t start = platform::MonotonicMs();
  std::optional<CSmtpClient> client;
  int attempts = 0;
  const SendResult status = RunSend(switches, environment, client, attempts);
  const SRunOutcome outcome = client ? client->m_outcome : SRunOutcome();
  if (verdict) *verdict = {IsTemporaryFailure(outcome, status), outcome.stage};
  // Only options that were all understood name a report to write.
  bool showUsage = false;
  std::string target;
  if (switches.LongOptions().Fault(showUsage).empty() &&
      switches.LongOptions().Lookup("report", target)) {
    const SRunReport report =
        MakeReport(client ? &*client : nullptr, status, ExitConventionOf(switches), attempts,
                   platform::MonotonicMs() - start);
    WriteReport(target, FormatRunReport(report));
  }
  return status;
}

SendResult SendFromCommandLine(const CSwitchCommandLineInfo& switches) {
  return SendFromCommandLine(switches, CEnvironment::Default());
}
