// The lines a failed run prints and the status it ends with, from the one
// failure value the client set where it happened. A new kind of failure is
// added there and here.
#pragma once

#include <string>

#include "app/send_result.h"
#include "smtp/run_outcome.h"

// The steps of a delivery, each with the line and status of a failure that
// left no more precise kind behind (a refused reply).
enum class DeliveryStep { kConnect, kLogin, kSend, kQuit };

// Prints the failure's lines on standard error (shown in quiet mode too)
// and returns its status; host names the relay in the lines. A quiet run,
// which shows no trace, also prints the relay's refusal of MAIL, RCPT, DATA
// or the end of the data, each line of it made printable, before the step's
// line; with the trace it is there already.
SendResult PrintFailure(const SRunOutcome& outcome, DeliveryStep step, const std::string& host,
                        bool quiet = false);

// The lines a quiet run prints for the refusal that ended it, each with its
// line end; empty when the run did not end at a refused envelope or data
// reply.
std::string RefusalLines(const SRunOutcome& outcome);

// True when trying again later may succeed: a reply with a 4xx code or none
// at all (the connection lost or out of time), a transient connection or TLS
// failure. Never once the relay accepted some data of this run or may have
// (an end of data without a final reply): another try could deliver twice.
bool IsTemporaryFailure(const SRunOutcome& outcome, SendResult status);

// A failed run whose delivery cannot be known: the end of the data was sent
// and no reply to it came.
bool IsDeliveryUnknown(const SRunOutcome& outcome, SendResult status);
