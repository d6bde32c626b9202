// The send run: validate the switches, build the whole message, then
// connect, log in, send and quit, turning the first failure into the status.
#pragma once

#include <string>

#include "app/exit_codes.h"
#include "app/send_result.h"

class CEnvironment;
class CSwitchCommandLineInfo;

// The run over switches, with what environment gives (the system's unless
// the caller brings its own). verdict, when given, receives whether trying
// again later may succeed and the stage the run reached. --report's file is
// written here.
struct SRunVerdict {
  bool temporary = false;
  RunStage stage = RunStage::kBeforeConnecting;
};
SendResult SendFromCommandLine(const CSwitchCommandLineInfo& switches, CEnvironment& environment,
                               SRunVerdict* verdict = nullptr);
SendResult SendFromCommandLine(const CSwitchCommandLineInfo& switches);

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

// The exit status convention --exit-codes chose; classic without it.
ExitConvention ExitConventionOf(const CSwitchCommandLineInfo& switches);
