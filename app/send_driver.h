// The send run: validate the switches, build the whole message, then
// connect, log in, send and quit, turning the first failure into the status.
#pragma once

#include <string>

#include "app/send_result.h"

class CEnvironment;
class CSwitchCommandLineInfo;

// The run over switches, with what environment gives (the system's unless
// the caller brings its own).
SendResult SendFromCommandLine(const CSwitchCommandLineInfo& switches, CEnvironment& environment);
SendResult SendFromCommandLine(const CSwitchCommandLineInfo& switches);

// A long option that is unknown, lacks its value, takes none or conflicts
// with another: its line (and the usage text where it helps) is written and
// ERROR_INVALID_ARGUMENT returned, whatever else the command line asks for.
// ERROR_NONE when the long options are sound.
SendResult RejectFaultyOptions(const CSwitchCommandLineInfo& switches);

// One entry of the -f list: a first "+" marks an attachment, a first "#" an
// inline part shown under its name; an unmarked file goes inline without
// its name. An empty file name stands for the message text.
struct SFileEntry {
  std::string fileName;  // the entry without its marker
  char marker = '\0';    // '+', '#', or '\0' when unmarked
  bool attachment = false;
  bool withholdName = true;
};
SFileEntry ParseFileEntry(const std::string& entry);
