// The run in its order: the options checked, accounts resolved, the message
// built, then delivered (or shown, for a dry run), and the report written.
// The steps live in send_driver_build.cpp, _deliver.cpp and _report.cpp.
#include "app/send_driver.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/account_settings.h"
#include "app/argument_charset.h"
#include "app/dry_run.h"
#include "app/exit_codes.h"
#include "app/long_options.h"
#include "app/oauth_run.h"
#include "app/password_source.h"
#include "app/progress_meter.h"
#include "app/providers.h"
#include "app/retry_policy.h"
#include "app/run_failure.h"
#include "app/run_report.h"
#include "app/send_driver_parts.h"
#include "app/switches.h"
#include "app/usage.h"
#include "platform/clock.h"
#include "platform/config_file.h"
#include "smtp/auth_mechanisms.h"
#include "smtp/smtp_client.h"

using send_driver::BuildMessage;
using send_driver::DeliverWithRetries;
using send_driver::Diagnostic;
using send_driver::MakeProgressMeter;
using send_driver::MakeReport;
using send_driver::SRelay;
using send_driver::Usage;
using send_driver::WriteReport;

namespace send_driver {

SendResult Usage(SendResult status) {
  PrintUsage();
  return status;
}

void Diagnostic(const char* format, const std::string& text) {
  std::fprintf(stderr, format, text.c_str());
  std::fflush(stderr);
}

}  // namespace send_driver

namespace {

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
