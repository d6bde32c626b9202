#include "app/run_failure.h"

#include <cstdio>

namespace {

void Line(const std::string& text) {
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

// A refusal, or a reply that never came: the step's own line.
SendResult StepFailure(DeliveryStep step, const std::string& host) {
  switch (step) {
    case DeliveryStep::kConnect:
      Line("Couldn't connect to " + host + "\n");
      return ERROR_CONNECTING_TO_HOST;
    case DeliveryStep::kLogin:
      Line("Couldn't authenticate with " + host + "\n");
      return ERROR_AUTHENTICATING;
    case DeliveryStep::kSend:
      Line("Error sending to " + host + "\n");
      return ERROR_SENDING_MAIL;
    case DeliveryStep::kQuit:
      break;
  }
  Line("Error closing the connection to " + host + "\n");
  return ERROR_CLOSING_CONNECTION;
}

}  // namespace

SendResult PrintFailure(const SRunOutcome& outcome, DeliveryStep step, const std::string& host) {
  switch (outcome.failure) {
    case FailureKind::kConnect:
      // The cause on a line of its own, which a quiet run shows as well.
      if (!outcome.detail.empty()) Line(outcome.detail + "\n");
      return StepFailure(DeliveryStep::kConnect, host);
    case FailureKind::kTls:
      Line("Couldn't secure the connection to " + host + ": " + outcome.detail + "\n");
      return ERROR_TLS;
    case FailureKind::kNotAsked:
      Line(outcome.detail);
      return step == DeliveryStep::kLogin ? ERROR_AUTHENTICATING : ERROR_SENDING_MAIL;
    case FailureKind::kChangedFile:
      Line(outcome.detail + " changed while the message was being sent\n");
      return ERROR_SENDING_MAIL;
    case FailureKind::kUnreadablePart:
    case FailureKind::kRefused:
    case FailureKind::kNone:
      break;
  }
  return StepFailure(step, host);
}
