#include "platform/error_text.h"

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

// Both variants of strerror_r: the GNU one returns its text, the POSIX one
// fills the buffer.
[[maybe_unused]] const char* Text(const char* text, const char*) { return text; }
[[maybe_unused]] const char* Text(int result, const char* buffer) { return result == 0 ? buffer : nullptr; }

}  // namespace

int LastErrorNumber() { return errno; }

std::string ErrorNumberText(int error) {
  char buffer[256] = "";
  const char* text = Text(strerror_r(error, buffer, sizeof buffer), buffer);
  if (text == nullptr || *text == '\0') return "error " + std::to_string(error);
  return text;
}

}  // namespace platform
