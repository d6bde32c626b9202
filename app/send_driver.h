// The send run: validate the switches, build the whole message, then
// connect, log in, send and quit, turning the first failure into the status.
#pragma once

#include "app/send_result.h"

class CSwitchCommandLineInfo;
struct SLineTimeouts;

// Reads the process-wide switch table.
SendResult SendFromCommandLine();
// The same run over a given table; timeouts, when given, replace the
// connection's defaults.
SendResult SendFromCommandLine(const CSwitchCommandLineInfo& switches,
                               const SLineTimeouts* timeouts = nullptr);
