// Running a command line through the system's shell and taking its output.
#pragma once

#include <string>

namespace platform {

enum class CommandOutcome {
  kRan,         // it exited; exitStatus and output tell the rest
  kNotStarted,  // it could not be started
  kTimedOut,    // it ran past timeoutMs: it was ended with all it started
  kTooLong,     // it wrote more than limit bytes: it was ended likewise
};

// Runs command through the system's shell (/bin/sh -c in a process group of
// its own; cmd.exe /c in a job object on Windows) with standard input the
// null device, and waits for it to exit, at most timeoutMs: not for the end
// of its output, which a child it left in the background may hold open.
// output receives what it wrote to standard output up to its exit; its
// standard error is the process's. exitStatus receives its exit status, -1
// when it did not exit normally.
CommandOutcome RunShellCommand(const std::string& command, size_t limit, int timeoutMs,
                               std::string& output, int& exitStatus);

}  // namespace platform
