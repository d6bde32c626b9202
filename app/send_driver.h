// The send run: validate the switches, build the whole message, then
// connect, log in, send and quit, turning the first failure into the status.
#pragma once

#include <string>

#include "app/send_result.h"

class CSwitchCommandLineInfo;
struct SLineTimeouts;

// Reads the process-wide switch table.
SendResult SendFromCommandLine();
// The same run over a given table; timeouts, when given, replace the
// connection's defaults.
SendResult SendFromCommandLine(const CSwitchCommandLineInfo& switches,
                               const SLineTimeouts* timeouts = nullptr);

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
