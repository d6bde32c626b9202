#include "platform/app_framework.h"

#include <windows.h>

namespace platform {

// The runtime has already split the process's command line (GetCommandLineA)
// into argv by the Windows quoting rules; the only framework state this
// program needs is its own module.
bool InitApplicationFramework(int argc, char** argv) {
  if (GetModuleHandleA(nullptr) == nullptr) return false;
  CommandLineWordStore().assign(argv, argv + argc);
  return true;
}

const char* SwitchPrefixes() { return "-/"; }

}  // namespace platform
