// Password commands in the system shell's own language, for the tests of
// --password-command: defined by password_command_posix_test.cpp and by
// password_command_win32_test.cpp, one of which each build compiles.
#pragma once

#include <string>
#include <vector>

struct SCommandCase {
  const char* command;
  bool found;
  const char* result;  // the password, or the reason
};

// Commands that must be cut short within a 1 s bound (never ending, writing
// without end) and others whose form differs between shells.
std::vector<SCommandCase> ShellOnlyCommandCases();

// A command that writes the bytes of the file at path (cat, type).
std::string ShowFileCommand(const std::string& path);
