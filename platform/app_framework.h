// The application framework and the process's own command line.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Initialises the application framework for this program; false when it
// cannot be initialised.
bool InitApplicationFramework(int argc, char** argv);

// The words of the process's command line, the program name first, split by
// the runtime's rules. Valid after InitApplicationFramework.
const std::vector<std::string>& CommandLineWords();

// The bytes that start a switch on this system's command lines: "-" on
// POSIX systems, where "/" starts a path; "-" and "/" on Windows.
const char* SwitchPrefixes();

}  // namespace platform
