#include "platform/command.h"
#include "platform/spawn_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace platform {
namespace {

long long NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// What is waiting in the pipe, without waiting for more; false at its end
// or past the limit.
bool Drain(int fd, size_t limit, std::string& output, bool& tooLong) {
  char buffer[4096];
  for (;;) {
    pollfd ready = {fd, POLLIN, 0};
    if (::poll(&ready, 1, 0) <= 0) return true;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (output.size() + static_cast<size_t>(n) > limit) {
      tooLong = true;
      return false;
    }
    output.append(buffer, static_cast<size_t>(n));
  }
}

pid_t Spawn(const std::string& command, int outputFd) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return -1;
  }
  // Standard input may carry the message text: the command must not take it.
  bool ready = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null",
                                                O_RDONLY, 0) == 0 &&
               posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO) == 0 &&
               RestoreChildSignals(attributes);
  // A group of its own, so that a command that overstays is ended whole.
  short flags = 0;
  ready = ready && posix_spawnattr_getflags(&attributes, &flags) == 0 &&
          posix_spawnattr_setflags(&attributes, flags | POSIX_SPAWN_SETPGROUP) == 0 &&
          posix_spawnattr_setpgroup(&attributes, 0) == 0;
  std::string shell = "/bin/sh";
  std::string flag = "-c";
  std::string text = command;
  char* argv[] = {shell.data(), flag.data(), text.data(), nullptr};
  pid_t pid = -1;
  if (ready && posix_spawn(&pid, argv[0], &actions, &attributes, argv, environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return pid;
}

}  // namespace

CommandOutcome RunShellCommand(const std::string& command, size_t limit, int timeoutMs,
                               std::string& output, int& exitStatus) {
  output.clear();
  exitStatus = -1;
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return CommandOutcome::kNotStarted;
  const pid_t pid = Spawn(command, pipeEnds[1]);
  ::close(pipeEnds[1]);
  if (pid < 0) {
    ::close(pipeEnds[0]);
    return CommandOutcome::kNotStarted;
  }
  const long long deadline = NowMs() + timeoutMs;
  bool open = true;
  bool tooLong = false;
  int status = 0;
  pid_t ended = 0;
  for (;;) {
    if (open) open = Drain(pipeEnds[0], limit, output, tooLong);
    if (tooLong) break;
    ended = ::waitpid(pid, &status, WNOHANG);
    if (ended == pid || (ended < 0 && errno != EINTR)) break;
    const long long left = deadline - NowMs();
    if (left <= 0) break;
    // A short wait: the child's exit does not show on the pipe.
    pollfd ready = {pipeEnds[0], POLLIN, 0};
    ::poll(&ready, open ? 1 : 0, static_cast<int>(left < 20 ? left : 20));
  }
  if (ended == pid) {
    // What it wrote before it exited; a background child keeps the rest.
    if (open) Drain(pipeEnds[0], limit, output, tooLong);
    ::close(pipeEnds[0]);
    if (tooLong) return CommandOutcome::kTooLong;
    if (WIFEXITED(status)) exitStatus = WEXITSTATUS(status);
    return CommandOutcome::kRan;
  }
  ::close(pipeEnds[0]);
  ::kill(-pid, SIGKILL);
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return tooLong ? CommandOutcome::kTooLong : CommandOutcome::kTimedOut;
}

}  // namespace platform
