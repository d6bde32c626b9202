#include "platform/app_framework.h"

namespace platform {
namespace {
std::vector<std::string>& Words() {
  static std::vector<std::string> words;
  return words;
}
}  // namespace

// A POSIX process has nothing to initialise: the shell has already split the
// command line into argv.
bool InitApplicationFramework(int argc, char** argv) {
  Words().assign(argv, argv + argc);
  return true;
}

const std::vector<std::string>& CommandLineWords() { return Words(); }

const char* SwitchPrefixes() { return "-"; }

}  // namespace platform
