#include "platform/shell.h"
#include "platform/spawn_posix.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace platform {

// xdg-open picks the program for the address from the desktop's settings;
// the address travels as its one argument, never through a shell.
bool ShellOpen(const std::string& address) {
  std::string program = "xdg-open";
  std::string argument = address;
  char* argv[] = {program.data(), argument.data(), nullptr};
  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) return false;
  pid_t pid = 0;
  const bool spawned = RestoreChildSignals(attributes) &&
                       posix_spawnp(&pid, argv[0], nullptr, &attributes, argv, environ) == 0;
  posix_spawnattr_destroy(&attributes);
  if (!spawned) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace platform
