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
#include <cstdint>

extern char** environ;

namespace platform {
namespace {

// How often a command whose output has ended is looked at.
constexpr int kPollMs = 10;

int64_t NowMs() {
  timespec now = {};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// A pipe's two ends, closed on every way out.
struct SPipe {
  int ends[2] = {-1, -1};
  ~SPipe() {
    for (int end : ends) {
      if (end >= 0) ::close(end);
    }
  }
  void CloseWriteEnd() {
    ::close(ends[1]);
    ends[1] = -1;
  }
};

// Starts /bin/sh -c command in a process group of its own, its standard
// output the pipe's write end. False when it cannot be started.
bool Spawn(const std::string& command, int outputEnd, pid_t& pid) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  short flags = 0;
  // Standard input may carry the message text: the command must not take it.
  bool ready =
      posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0 &&
      posix_spawn_file_actions_adddup2(&actions, outputEnd, STDOUT_FILENO) == 0 &&
      RestoreChildSignals(attributes) && posix_spawnattr_getflags(&attributes, &flags) == 0 &&
      // Its own group, so that whatever it starts can be ended with it.
      posix_spawnattr_setpgroup(&attributes, 0) == 0 &&
      posix_spawnattr_setflags(&attributes, static_cast<short>(flags | POSIX_SPAWN_SETPGROUP)) ==
          0;
  if (ready) {
    std::string shell = "/bin/sh";
    std::string flag = "-c";
    std::string text = command;
    char* argv[] = {shell.data(), flag.data(), text.data(), nullptr};
    ready = posix_spawn(&pid, argv[0], &actions, &attributes, argv, environ) == 0;
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return ready;
}

// Reads what the pipe holds now. False once more than limit bytes came.
bool TakeOutput(int fd, size_t limit, std::string& output, bool& ended) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n <= 0) {
      ended = true;
      return true;
    }
    if (output.size() + static_cast<size_t>(n) > limit) return false;
    output.append(buffer, static_cast<size_t>(n));
  }
}

// True when the shell has ended; status then holds its wait status.
bool HasEnded(pid_t pid, int& status) {
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done >= 0 || errno != EINTR) return done == pid || done < 0;
  }
}

void EndGroup(pid_t pid) {
  ::kill(-pid, SIGKILL);
  ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

ECommandEnd RunShellCommand(const std::string& command, size_t limit, int timeoutMs,
                            std::string& output, int& exitStatus) {
  output.clear();
  exitStatus = -1;
  SPipe pipe;
  if (::pipe2(pipe.ends, O_CLOEXEC) != 0) return ECommandEnd::kNotStarted;
  pid_t pid = 0;
  if (!Spawn(command, pipe.ends[1], pid)) return ECommandEnd::kNotStarted;
  pipe.CloseWriteEnd();
  const int reader = pipe.ends[0];
  ::fcntl(reader, F_SETFL, ::fcntl(reader, F_GETFL) | O_NONBLOCK);

  const int64_t deadline = NowMs() + timeoutMs;
  bool outputEnded = false;
  int status = 0;
  for (;;) {
    if (!outputEnded && !TakeOutput(reader, limit, output, outputEnded)) {
      EndGroup(pid);
      return ECommandEnd::kTooMuchOutput;
    }
    if (HasEnded(pid, status)) {
      // What it wrote just before it ended is still in the pipe.
      if (!outputEnded && !TakeOutput(reader, limit, output, outputEnded)) {
        return ECommandEnd::kTooMuchOutput;
      }
      break;
    }
    const int64_t left = deadline - NowMs();
    if (left <= 0) {
      EndGroup(pid);
      return ECommandEnd::kTimedOut;
    }
    const int wait = static_cast<int>(left < kPollMs ? left : kPollMs);
    pollfd ready = {reader, POLLIN, 0};
    // Once the output has ended the pipe is always ready: just wait a little.
    ::poll(&ready, outputEnded ? 0 : 1, wait);
  }
  if (WIFEXITED(status)) exitStatus = WEXITSTATUS(status);
  return ECommandEnd::kExited;
}

}  // namespace platform
