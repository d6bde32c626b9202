#include "platform/command.h"
#include "platform/spawn_posix.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace platform {

bool RunShellCommand(const std::string& command, size_t limit, std::string& output,
                     int& exitStatus) {
  output.clear();
  exitStatus = -1;
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  // Standard input may carry the message text: the command must not take it.
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  RestoreChildSignals(attributes);
  std::string shell = "/bin/sh";
  std::string flag = "-c";
  std::string text = command;
  char* argv[] = {shell.data(), flag.data(), text.data(), nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(pipeEnds[1]);
  if (spawned != 0) {
    ::close(pipeEnds[0]);
    return false;
  }
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    const size_t room = limit - output.size();
    output.append(buffer, static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room);
  }
  ::close(pipeEnds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return true;
  }
  if (WIFEXITED(status)) exitStatus = WEXITSTATUS(status);
  return true;
}

}  // namespace platform
