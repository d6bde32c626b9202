// The last step of a run: what --report says of it, and the file or the
// standard output it is written to.
#include <cstdio>
#include <string>

#include "app/exit_codes.h"
#include "app/run_failure.h"
#include "app/run_report.h"
#include "app/send_driver_parts.h"
#include "mime/header_values.h"
#include "platform/whole_file.h"
#include "smtp/smtp_client.h"

namespace send_driver {

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

}  // namespace send_driver
