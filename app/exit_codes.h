// The process's exit status in one of two conventions: the program's own
// table (the default), or sendmail's sysexits for callers that expect it
// (mutt, Postfix's pipe transport): --exit-codes=sysexits.
#pragma once

#include <string>

#include "app/send_result.h"
#include "smtp/run_outcome.h"

enum class ExitConvention { kClassic, kSysexits };

// VALUE of --exit-codes: "classic" or "sysexits".
bool ParseExitConvention(const std::string& text, ExitConvention& convention);

// The exit status of a run that ended with status at stage; temporary says
// whether trying again later may succeed. Sysexits: 0, 75 EX_TEMPFAIL for
// every temporary failure, 65 EX_DATAERR for a bad address or subject, 66
// EX_NOINPUT for a file that cannot be read, 77 EX_NOPERM for
// authentication (a refused login, or a password or token that could not
// be had), 78 EX_CONFIG for a bad option or a missing or malformed relay, 69
// EX_UNAVAILABLE for any other permanent failure (a refused greeting too,
// which the classic table counts as a failed login). A failed QUIT after the
// relay accepted the message is 0 there: the message was delivered, and a
// caller that tried again would deliver it twice.
unsigned ExitStatus(SendResult status, bool temporary, RunStage stage,
                    ExitConvention convention);

// The name of an exit status of the convention ("EX_TEMPFAIL",
// "ERROR_SENDING_MAIL").
const char* ExitStatusName(unsigned status, ExitConvention convention);
