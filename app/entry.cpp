#include "app/entry.h"

#include <cstdio>

#include "about/about_dialog.h"
#include "app/providers.h"
#include "app/send_driver.h"
#include "app/send_result.h"
#include "app/switches.h"
#include "app/usage.h"
#include "platform/app_framework.h"
#include "platform/process.h"
#include "platform/stdio_mode.h"
#include "smtp/environment.h"

namespace {

int g_savedStdinMode = 0;
int g_savedStdoutMode = 0;

// Standard input and output in binary mode around the send run, and back.
void SetBinaryStdio() {
  g_savedStdinMode = platform::SetBinaryMode(0);
  g_savedStdoutMode = platform::SetBinaryMode(1);
}

void RestoreStdio() {
  platform::RestoreMode(0, g_savedStdinMode);
  platform::RestoreMode(1, g_savedStdoutMode);
}

// An unknown option beside --help or --version is still a mistake to
// report (the send path does so, with status 11), not a success.
// An unknown or malformed option fails the run whatever comes with it: the
// send path writes its line and the usage text.
bool LongOptionsAreValid() {
  bool showUsage = false;
  return SwitchTable().LongOptions().Fault(showUsage).empty();
}

SendResult RejectUnexpectedWord() {
  std::fprintf(stderr,
               "Unexpected word %s (a switch's value is glued to its letter, as in -sSubject)\n",
               SwitchTable().UnexpectedWordAsShown().c_str());
  std::fflush(stderr);
  PrintUsage();
  return ERROR_INVALID_ARGUMENT;
}

}  // namespace

unsigned VelsendMain(int argc, char** argv) {
  unsigned status = ERROR_NONE;
  SRunVerdict verdict;
  // The process set-up belongs to starting the program: its failure is
  // reported as the framework's.
  if (!platform::PrepareProcess() || !platform::InitApplicationFramework(argc, argv)) {
    std::fputs("Fatal Error: MFC initialization failed\n", stderr);
    std::fflush(stderr);
    status = ERROR_NO_ORIGINATOR;
  } else if (!ParseSwitches()) {
    status = RejectUnexpectedWord();
  } else if (LongOptionsAreValid() && SwitchTable().LongOptions().Has("help")) {
    PrintHelp();
  } else if (LongOptionsAreValid() && SwitchTable().LongOptions().Has("version")) {
    PrintVersion();
  } else if (LongOptionsAreValid() && SwitchTable().LongOptions().Has("providers")) {
    std::fputs(ProviderTableText().c_str(), stdout);
    std::fflush(stdout);
  } else if (LongOptionsAreValid() && HasSwitch("?")) {
    PrintUsage();
  } else if (LongOptionsAreValid() && HasSwitch("#")) {
    RunAboutDialog();
  } else {
    SetBinaryStdio();
    status = SendFromCommandLine(SwitchTable(), CEnvironment::Default(), &verdict);
    RestoreStdio();
  }
  std::fprintf(stderr, "Program Exiting[%u (%s)]\n", status, SendResultName(status));
  std::fflush(stderr);
  // The line keeps the program's own status; --exit-codes changes only the
  // process's.
  return ExitStatus(static_cast<SendResult>(status), verdict.temporary, verdict.stage,
                    ExitConventionOf(SwitchTable()));
}
