// The second step of a run: the relay connected, the login, the message
// sent and QUIT, each failure turned into its lines and status; tried again
// as --retry allows, and a refused OAuth token renewed once.
#include <cstdio>
#include <memory>
#include <string>

#include "app/oauth_run.h"
#include "app/progress_meter.h"
#include "app/retry_policy.h"
#include "app/run_failure.h"
#include "app/send_driver_parts.h"
#include "platform/clock.h"
#include "platform/terminal.h"
#include "smtp/smtp_client.h"

namespace send_driver {

namespace {

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

}  // namespace

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

}  // namespace send_driver
