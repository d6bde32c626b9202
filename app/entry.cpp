#include "app/entry.h"

#include <cstdio>

#include "about/about_dialog.h"
#include "app/send_driver.h"
#include "app/send_result.h"
#include "app/switches.h"
#include "app/usage.h"
#include "platform/app_framework.h"
#include "platform/process.h"
#include "platform/stdio_mode.h"

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

SendResult RejectUnexpectedWord() {
  std::fprintf(stderr,
               "Unexpected word %s (a switch's value is glued to its letter, as in -sSubject)\n",
               SwitchTable().UnexpectedWordAsShown().c_str());
  std::fflush(stderr);
  PrintUsage();
  return ERROR_INVALID_ARGUMENT;
}

// --help, --version, -?, -# or the send run, the first given in this order.
unsigned Dispatch() {
  if (SwitchTable().LongOptions().Has("help")) {
    PrintHelp();
  } else if (SwitchTable().LongOptions().Has("version")) {
    PrintVersion();
  } else if (HasSwitch("?")) {
    PrintUsage();
  } else if (HasSwitch("#")) {
    RunAboutDialog();
  } else {
    SetBinaryStdio();
    const SendResult status = SendFromCommandLine(SwitchTable());
    RestoreStdio();
    return status;
  }
  return ERROR_NONE;
}

}  // namespace

unsigned VelsendMain(int argc, char** argv) {
  unsigned status = ERROR_NONE;
  // The process set-up belongs to starting the program: its failure is
  // reported as the framework's.
  if (!platform::PrepareProcess() || !platform::InitApplicationFramework(argc, argv)) {
    std::fputs("Fatal Error: MFC initialization failed\n", stderr);
    std::fflush(stderr);
    status = ERROR_NO_ORIGINATOR;
  } else if (!ParseSwitches()) {
    status = RejectUnexpectedWord();
  } else {
    // A mistyped option is reported whatever it stands beside, --help too.
    status = RejectFaultyOptions(SwitchTable());
    if (status == ERROR_NONE) status = Dispatch();
  }
  std::fprintf(stderr, "Program Exiting[%u (%s)]\n", status, SendResultName(status));
  std::fflush(stderr);
  return status;
}
