#include "platform/error_text.h"

#include <errno.h>
#include <string.h>
#include <windows.h>

namespace platform {

int LastErrorNumber() { return errno; }

std::string ErrorNumberText(int error) {
  char buffer[256] = "";
  if (strerror_s(buffer, sizeof buffer, error) != 0 || buffer[0] == '\0') {
    return "error " + std::to_string(error);
  }
  return buffer;
}

std::string LastSystemErrorText() {
  const DWORD code = GetLastError();
  char buffer[256] = "";
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer,
                                 sizeof buffer, nullptr);
  std::string text(buffer, n);
  // The system's sentence ends with a full stop and a line break.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) {
    text.pop_back();
  }
  return text.empty() ? "error " + std::to_string(code) : text;
}

}  // namespace platform
