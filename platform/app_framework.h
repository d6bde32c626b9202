// The application framework and the process's own command line.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Initialises the application framework for this program; false when it
// cannot be initialised.
bool InitApplicationFramework(int argc, char** argv);

// The words of the process's command line, the program name first, split by
// the runtime's rules; InitApplicationFramework fills them.
inline std::vector<std::string>& CommandLineWordStore() {
  static std::vector<std::string> words;
  return words;
}
inline const std::vector<std::string>& CommandLineWords() { return CommandLineWordStore(); }

// The bytes that start a switch on this system's command lines: "-" on
// POSIX systems, where "/" starts a path; "-" and "/" on Windows.
const char* SwitchPrefixes();

}  // namespace platform
