#include "platform/error_text.h"

#include <errno.h>
#include <string.h>

namespace platform {

int LastErrorNumber() { return errno; }

std::string ErrorNumberText(int error) {
  char buffer[256] = "";
  if (strerror_s(buffer, sizeof buffer, error) != 0 || buffer[0] == '\0') {
    return "error " + std::to_string(error);
  }
  return buffer;
}

}  // namespace platform
