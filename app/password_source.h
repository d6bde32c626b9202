// Where the password comes from: -p, a file, a command's output, or the
// VELSEND_PASSWORD environment variable, so that it need not stand on the
// command line where other users can read it.
#pragma once

#include <string>
#include <string_view>

class CSwitchCommandLineInfo;

// The line that stops a run naming more than one of -p, --password-file and
// --password-command; empty when at most one is named.
std::string PasswordSourceFault(const CSwitchCommandLineInfo& switches);

enum class PasswordOutcome { kNone, kFound, kFailed };
// The password of the one source named, else of VELSEND_PASSWORD when it is
// set and userGiven; kNone when there is none. kFailed with reason when the
// named source gives none.
PasswordOutcome ObtainPassword(const CSwitchCommandLineInfo& switches, bool userGiven,
                               std::string& password, std::string& reason);

// The first line of text without its line end (LF or CR LF).
std::string_view FirstLine(std::string_view text);
// The first line of file; false with reason when it cannot be read or the
// line is empty.
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& reason);
// The first line the command writes to standard output; false with reason
// when it cannot run, exits with a status other than 0, writes no line or
// more than 64 KiB, or runs past timeoutMs (--timeout, 300 s by default),
// when it is ended with all it started.
bool RunPasswordCommand(const std::string& command, std::string& password, std::string& reason,
                        int timeoutMs = 5 * 60 * 1000);
