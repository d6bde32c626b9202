#include "platform/pause.h"

#include <cerrno>
#include <ctime>

namespace platform {

void PauseMs(int ms) {
  if (ms <= 0) return;
  timespec wait{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  timespec left{};
  while (nanosleep(&wait, &left) != 0 && errno == EINTR) wait = left;
}

}  // namespace platform
