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
// named source gives none, or one holding a NUL byte, which no mechanism
// can carry. A command may take commandMs. warning receives a line to show
// whatever the outcome (a password file others can read), else is emptied.
PasswordOutcome ObtainPassword(const CSwitchCommandLineInfo& switches, bool userGiven,
                               int commandMs, std::string& password, std::string& reason,
                               std::string& warning);

// The first line of text without its line end: LF, CR LF or a CR alone.
std::string_view FirstLine(std::string_view text);
// The first line of file; false with reason when it cannot be read, is not
// a regular file (a FIFO without a writer would wait for ever) or the line
// is empty. warning receives a line when users other than its owner may
// read the file, else is emptied.
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& reason,
                      std::string& warning);
// The first line the command writes to standard output; false with reason
// when it cannot run, does not end within timeoutMs, writes more than
// kPasswordCommandOutput bytes, exits with a status other than 0 or writes
// no line. It is waited for, not its output, which a process it left
// running may hold open.
bool RunPasswordCommand(const std::string& command, int timeoutMs, std::string& password,
                        std::string& reason);
// A token is a few KiB; more is a command gone wrong (such as "yes").
constexpr size_t kPasswordCommandOutput = 64 * 1024;
