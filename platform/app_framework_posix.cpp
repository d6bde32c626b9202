#include "platform/app_framework.h"

namespace platform {

// A POSIX process has nothing to initialise: the shell has already split the
// command line into argv.
bool InitApplicationFramework(int argc, char** argv) {
  CommandLineWordStore().assign(argv, argv + argc);
  return true;
}

const char* SwitchPrefixes() { return "-"; }

}  // namespace platform
