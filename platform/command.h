// Running a command line through the system's shell and taking its output.
#pragma once

#include <string>

namespace platform {

// Runs command through the system's shell (/bin/sh -c; cmd.exe /c on
// Windows) and waits for it. output receives what it wrote to standard
// output, at most limit bytes (the rest is read and dropped); its standard
// error is the process's. exitStatus receives its exit status, -1 when it
// did not exit normally. False when it could not be started.
bool RunShellCommand(const std::string& command, size_t limit, std::string& output,
                     int& exitStatus);

}  // namespace platform
