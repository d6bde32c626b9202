// The report --report writes: one JSON object that tells a script how the
// run ended and whether trying again later may succeed. It never holds a
// secret: only statuses, the relay's replies, addresses and counts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "smtp/run_outcome.h"

struct SRunReport {
  unsigned status = 0;          // the exit status, in the convention in use
  std::string statusName;       // its name ("ERROR_SENDING_MAIL", "EX_TEMPFAIL")
  bool temporary = false;
  RunStage stage = RunStage::kBeforeConnecting;
  std::vector<std::string> reply;  // the reply that decided the run; empty: none
  std::vector<SRecipientReply> recipients;
  std::string messageId;           // empty: no message was made
  std::optional<std::string> queueId;
  uint64_t bytes = 0;
  int transactions = 0;
  int attempts = 0;
  int64_t elapsedMs = 0;
  bool deliveryUnknown = false;
};

// A reply's parts: the code of its first line (nullopt when the reply is not
// made of reply lines), the enhanced status code (RFC 3463) when the first
// line begins with one of the code's class, and the text of every line after
// them, the lines joined with "\n".
struct SReplyParts {
  std::optional<int> code;
  std::string enhanced;
  std::string text;
};
SReplyParts SplitReply(const std::vector<std::string>& lines);

// The queue id a relay's acceptance names in one of the common forms:
// "queued as ID" (Postfix and many others, any case, a colon allowed),
// "id=ID" (Exim) and "ID Message accepted for delivery" (Sendmail).
std::optional<std::string> QueueIdFromReply(const std::vector<std::string>& lines);

// The stage's name in the report ("end-of-data", "before-connecting").
const char* StageName(RunStage stage);

// The JSON object on one line, ending with a line feed. Text that is not
// UTF-8 is written with replacement characters rather than refused.
std::string FormatRunReport(const SRunReport& report);
