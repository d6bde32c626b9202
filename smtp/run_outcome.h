// What a run came to: the one failure that ended it, set where it happened,
// and what the dialogue left behind for a report (the step under way, the
// relay's last reply, each recipient's answer).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The step of the dialogue under way; the order is the dialogue's.
enum class RunStage {
  kBeforeConnecting,
  kConnect,
  kGreeting,
  kTls,
  kAuth,
  kMail,
  kRcpt,
  kData,
  kEndOfData,
  kQuit,
};

// What ended the run early, beyond a reply the relay refused.
enum class FailureKind {
  kNone,
  kRefused,         // a reply was refused or never came; detail empty
  kConnect,         // detail: the connection's cause line ("Connection refused ...")
  kTls,             // detail: why the connection could not be secured
  kNotAsked,        // detail: a step refused before the relay was asked, with its line end
  kUnreadablePart,  // detail: why the part could not be read ("Permission denied")
  kChangedFile,     // detail: the file that changed while the data was sent
};

struct SRecipientReply {
  std::string address;
  bool accepted = false;
  std::vector<std::string> reply;  // the RCPT reply's lines, as received
};

struct SRunOutcome {
  FailureKind failure = FailureKind::kNone;
  std::string detail;
  // A kConnect or kTls failure that trying again later may mend: a refused
  // or timed-out connection, a handshake cut short or out of time.
  bool transient = false;
  RunStage stage = RunStage::kBeforeConnecting;
  // The lines of the relay's last reply; empty when none came.
  std::vector<std::string> reply;
  std::vector<SRecipientReply> recipients;
  bool dataEnded = false;      // an end-of-data line was sent
  bool finalReplyCame = false;  // some reply to the last one was read
  uint64_t dataBytes = 0;      // the data taken for sending, end-of-data lines included
  int transactions = 0;        // MAIL commands sent on this connection
  int delivered = 0;           // transactions whose data the relay accepted
  // The lines of the last reply to an end-of-data line (where a queue id is).
  std::vector<std::string> finalReply;

  // The first failure stays: what follows it (a QUIT after a refusal) is
  // only its consequence.
  void Fail(FailureKind kind, std::string text = std::string(), bool mendable = false) {
    if (failure != FailureKind::kNone) return;
    failure = kind;
    detail = std::move(text);
    transient = mendable;
  }
};
