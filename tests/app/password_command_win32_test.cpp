// --password-command with cmd.exe commands: the bounds of the table in
// password_source_test.cpp.
#include "shell_commands.h"

std::vector<SCommandCase> ShellOnlyCommandCases() {
  return {
      {"for /l %i in (0,0,1) do @rem", false, "the password command did not end in time"},
      {"for /l %i in (0,0,1) do @echo yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy", false,
       "the password command wrote more than 64 KiB"},
      // Standard input is empty, never the message text.
      {"more", false, "the password command wrote no password"},
  };
}

std::string ShowFileCommand(const std::string& path) { return "type \"" + path + "\""; }
