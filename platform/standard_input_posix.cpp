#include "platform/standard_input.h"

#include <cerrno>

#include <unistd.h>

namespace platform {

long ReadStandardInput(char* destination, size_t capacity) {
  for (;;) {
    ssize_t n = ::read(STDIN_FILENO, destination, capacity);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -1;
  }
}

}  // namespace platform
