// What the files of the send driver (app/send_driver*.cpp) share: the relay
// a run reaches, its two ways of saying no, and the steps the run in
// send_driver.cpp calls in turn. Not for use outside them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/exit_codes.h"
#include "app/send_result.h"

class CEnvironment;
class COAuthRun;
class CProgressMeter;
class CSmtpClient;
class CSwitchCommandLineInfo;
struct SClientOptions;
struct SRetryPolicy;
struct SRunReport;

namespace send_driver {

struct SRelay {
  std::string host;
  long port = 0;
};

// Shows the usage text and gives status back.
SendResult Usage(SendResult status);
// One line on standard error: text in the "%s" of format.
void Diagnostic(const char* format, const std::string& text);

// Building (send_driver_build.cpp). Validates the switches in their fixed
// order and fills the client with the whole message; relay receives the
// host and port, settings the client's options.
SendResult BuildMessage(CSmtpClient& client, const CSwitchCommandLineInfo& switches,
                        SRelay& relay, SClientOptions& settings);

// Delivering (send_driver_deliver.cpp).
// --progress: the meter watches the data phase on standard error.
std::unique_ptr<CProgressMeter> MakeProgressMeter(CSmtpClient& client, bool quiet);
// Connects, logs in, sends and quits, again on a new connection as --retry
// allows; attempts receives the count of tries. meter, when given, shows
// its final state before any error line; oauth, when given, renews a token
// the relay refused, once.
SendResult DeliverWithRetries(CSmtpClient& client, const SRelay& relay, CProgressMeter* meter,
                              bool quiet, COAuthRun* oauth, const std::string& token,
                              const SRetryPolicy& policy, CEnvironment& environment,
                              int& attempts);

// Reporting (send_driver_report.cpp).
// What --report says of a run that ended with status after attempts tries;
// client is null when the run ended before one was made.
SRunReport MakeReport(const CSmtpClient* client, SendResult status, ExitConvention convention,
                      int attempts, int64_t elapsedMs);
// --report=FILE ("-": standard output), written whole or not at all.
void WriteReport(const std::string& target, const std::string& text);

}  // namespace send_driver
