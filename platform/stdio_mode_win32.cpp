#include "platform/stdio_mode.h"

#include <fcntl.h>
#include <io.h>

namespace platform {

// The runtime translates CR LF to LF on input and LF to CR LF on output in
// text mode; the message bytes must pass unchanged.
int SetBinaryMode(int fd) { return _setmode(fd, _O_BINARY); }

void RestoreMode(int fd, int mode) {
  if (mode != -1) _setmode(fd, mode);  // -1: the descriptor had no mode to give back
}

}  // namespace platform
