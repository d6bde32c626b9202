#include "platform/command.h"

#include <cstdio>

#include "platform/wide_text_win32.h"

namespace platform {

// _wpopen runs the line through the command interpreter (cmd.exe /c); the
// wide form keeps characters outside the ANSI code page.
bool RunShellCommand(const std::string& command, size_t limit, std::string& output,
                     int& exitStatus) {
  output.clear();
  exitStatus = -1;
  std::FILE* pipe = _wpopen(WideFromUtf8(command).c_str(), L"rb");
  if (pipe == nullptr) return false;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    const size_t room = limit - output.size();
    output.append(buffer, n < room ? n : room);
  }
  exitStatus = _pclose(pipe);
  return true;
}

}  // namespace platform
