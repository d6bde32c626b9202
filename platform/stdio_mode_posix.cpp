#include "platform/stdio_mode.h"

namespace platform {

// POSIX streams never translate line ends: binary is the only mode.
int SetBinaryMode(int) { return 0; }
void RestoreMode(int, int) {}

}  // namespace platform
