#include "platform/standard_input.h"

#include <cerrno>

#include <poll.h>
#include <unistd.h>

namespace platform {

long ReadStandardInput(char* destination, size_t capacity) {
  for (;;) {
    ssize_t n = ::read(STDIN_FILENO, destination, capacity);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // Inherited in non-blocking mode: nothing has arrived yet, so wait for
      // it here rather than change a mode the sender shares with us.
      pollfd ready = {STDIN_FILENO, POLLIN, 0};
      if (::poll(&ready, 1, -1) < 0 && errno != EINTR) return -1;
      continue;
    }
    if (errno != EINTR) return -1;
  }
}

void TypeInCodePage(unsigned) {}

}  // namespace platform
