#include "platform/process.h"

#include <fcntl.h>
#include <io.h>

namespace platform {
namespace {

bool g_closedAtStart[3] = {false, false, false};

// The runtime gives a descriptor without a handle -1 or -2 (no console).
bool IsOpen(int fd) {
  const intptr_t handle = _get_osfhandle(fd);
  return handle != -1 && handle != -2;
}

bool FillWithNullDevice(int fd) {
  int null = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
  if (null < 0) return false;
  if (null == fd) return true;
  bool filled = _dup2(null, fd) == 0;
  _close(null);
  return filled;
}

}  // namespace

// Windows has no SIGPIPE: a write to a pipe without a reader fails alone.
bool PrepareProcess() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (IsOpen(fd)) continue;
    g_closedAtStart[fd] = true;
    if (!FillWithNullDevice(fd)) return false;
  }
  return true;
}

bool WasClosedAtStart(int fd) { return fd >= 0 && fd <= 2 && g_closedAtStart[fd]; }

}  // namespace platform
