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
// and returns its status; host names the relay in the lines.
SendResult PrintFailure(const SRunOutcome& outcome, DeliveryStep step, const std::string& host);
