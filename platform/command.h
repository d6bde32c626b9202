// Running a command line through the system's shell and taking its output.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

enum class ECommandEnd {
  kExited,          // the shell ended; exitStatus holds its status
  kNotStarted,      // the shell could not be started
  kTimedOut,        // it did not end within the time given
  kTooMuchOutput,   // it wrote more than the limit
};

// Runs command through the system's shell (/bin/sh -c; cmd.exe /c on
// Windows) with an empty standard input and the process's standard error,
// and waits at most timeoutMs for the shell to end: for the shell itself,
// not for the end of its output, which a process it left running may hold
// open. output receives what it wrote until then, at most limit bytes.
// When it does not end in time or writes more than limit bytes, it is
// ended together with every process it started (its process group; on
// Windows its job object). exitStatus receives the shell's exit status
// with kExited, -1 when it was ended by a signal.
ECommandEnd RunShellCommand(const std::string& command, size_t limit, int timeoutMs,
                            std::string& output, int& exitStatus);

}  // namespace platform
