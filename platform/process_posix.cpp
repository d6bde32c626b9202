#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace {

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

// Descriptors are filled in order, so the lowest free one is fd itself; the
// dup2 only serves a descriptor closed while a lower one was also closed.
// Standard output is filled for reading only: what is written to a closed
// one fails as it would have, so a dry run does not show its message to
// nobody and call that success.
bool FillWithNullDevice(int fd) {
  int null = ::open("/dev/null", fd == STDERR_FILENO ? O_WRONLY : O_RDONLY);
  if (null < 0) return false;
  if (null == fd) return true;
  bool filled = ::dup2(null, fd) == fd;
  ::close(null);
  return filled;
}

}  // namespace

bool PrepareProcess() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (!IsOpen(fd) && !FillWithNullDevice(fd)) return false;
  }
  // A failed write of the trace or status line loses text, nothing more.
  ::signal(SIGPIPE, SIG_IGN);
  return true;
}

}  // namespace platform
