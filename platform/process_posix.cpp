#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace {

bool g_closedAtStart[3] = {false, false, false};

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

// Descriptors are filled in order, so the lowest free one is fd itself; the
// dup2 only serves a descriptor closed while a lower one was also closed.
bool FillWithNullDevice(int fd) {
  int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
  if (null < 0) return false;
  if (null == fd) return true;
  bool filled = ::dup2(null, fd) == fd;
  ::close(null);
  return filled;
}

}  // namespace

bool PrepareProcess() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (IsOpen(fd)) continue;
    g_closedAtStart[fd] = true;
    if (!FillWithNullDevice(fd)) return false;
  }
  // A failed write of the trace or status line loses text, nothing more.
  ::signal(SIGPIPE, SIG_IGN);
  return true;
}

bool WasClosedAtStart(int fd) { return fd >= 0 && fd <= 2 && g_closedAtStart[fd]; }

}  // namespace platform
