#include "app/run_failure.h"

#include <cstdio>

#include "base/printable_text.h"

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

std::string RefusalLines(const SRunOutcome& outcome) {
  if (outcome.failure != FailureKind::kNone && outcome.failure != FailureKind::kRefused) {
    return std::string();
  }
  switch (outcome.stage) {
    case RunStage::kMail:
    case RunStage::kRcpt:
    case RunStage::kData:
    case RunStage::kEndOfData:
      break;
    default:
      return std::string();
  }
  // Only a reply that refused: not an accepting one that an out-of-step
  // relay or a lost send left as the last.
  if (outcome.reply.empty()) return std::string();
  const char accepting = outcome.stage == RunStage::kData ? '3' : '2';
  if (outcome.reply.back().empty() || outcome.reply.back()[0] == accepting) return std::string();
  // A flood from a hostile relay is cut: the trace has the whole of it.
  constexpr size_t kMostLines = 8;
  constexpr size_t kLongest = 512;
  std::string text;
  const size_t first = outcome.reply.size() > kMostLines ? outcome.reply.size() - kMostLines : 0;
  for (size_t i = first; i < outcome.reply.size(); ++i) {
    AppendPrintable(text, std::string_view(outcome.reply[i]).substr(0, kLongest));
    text += '\n';
  }
  return text;
}

SendResult PrintFailure(const SRunOutcome& outcome, DeliveryStep step, const std::string& host,
                        bool quiet) {
  if (quiet) {
    const std::string refusal = RefusalLines(outcome);
    if (!refusal.empty()) Line(refusal);
  }
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

bool IsDeliveryUnknown(const SRunOutcome& outcome, SendResult status) {
  return status != ERROR_NONE && outcome.dataEnded && !outcome.finalReplyCame;
}

bool IsTemporaryFailure(const SRunOutcome& outcome, SendResult status) {
  if (status == ERROR_NONE || outcome.delivered > 0 || IsDeliveryUnknown(outcome, status)) {
    return false;
  }
  switch (outcome.failure) {
    case FailureKind::kConnect:
    case FailureKind::kTls:
      return outcome.transient;
    case FailureKind::kNotAsked:
    case FailureKind::kUnreadablePart:
    case FailureKind::kChangedFile:
      return false;
    case FailureKind::kNone:
    case FailureKind::kRefused:
      break;
  }
  // A refusal needs a connection; anything before one is bad input.
  if (outcome.stage == RunStage::kBeforeConnecting) return false;
  if (outcome.reply.empty()) return true;
  return outcome.reply.back().size() >= 3 && outcome.reply.back()[0] == '4';
}
