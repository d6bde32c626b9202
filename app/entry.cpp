#include "app/entry.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

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

// The system's environment, except that the test suites' variable read
// below, holding N, shortens every wait to N ms (the final reply to 2N) so
// that a silent relay is found out quickly.
class CRunEnvironment : public CEnvironmentWrapper {
 public:
  CRunEnvironment() : CEnvironmentWrapper(CEnvironment::Default()) {
    const char* text = std::getenv("VELSEND_TIMEOUT_MS");
    if (!text || !*text) return;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value <= 0) return;
    const int n = static_cast<int>(std::min<long>(value, INT_MAX / 2));
    m_timeouts = SLineTimeouts{n, n, 2 * n, n};
    m_shortened = true;
  }
  SLineTimeouts Timeouts() override {
    return m_shortened ? m_timeouts : CEnvironmentWrapper::Timeouts();
  }

 private:
  SLineTimeouts m_timeouts;
  bool m_shortened = false;
};

// An unknown option beside --help or --version is still a mistake to
// report (the send path does so, with status 11), not a success.
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
  } else if (SwitchTable().LongOptions().Has("help") && LongOptionsAreValid()) {
    PrintHelp();
  } else if (SwitchTable().LongOptions().Has("version") && LongOptionsAreValid()) {
    PrintVersion();
  } else if (SwitchTable().LongOptions().Has("providers")) {
    std::fputs(ProviderTableText().c_str(), stdout);
    std::fflush(stdout);
  } else if (HasSwitch("?")) {
    PrintUsage();
  } else if (HasSwitch("#")) {
    RunAboutDialog();
  } else {
    SetBinaryStdio();
    CRunEnvironment environment;
    status = SendFromCommandLine(SwitchTable(), environment, &verdict);
    RestoreStdio();
  }
  std::fprintf(stderr, "Program Exiting[%u (%s)]\n", status, SendResultName(status));
  std::fflush(stderr);
  // The line keeps the program's own status; --exit-codes changes only the
  // process's.
  return ExitStatus(static_cast<SendResult>(status), verdict.temporary, verdict.stage,
                    ExitConventionOf(SwitchTable()));
}
