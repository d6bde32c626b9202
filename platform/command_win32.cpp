#include "platform/command.h"

#include <cstdio>

namespace platform {

// _popen runs the line through the command interpreter (cmd.exe /c).
bool RunShellCommand(const std::string& command, size_t limit, std::string& output,
                     int& exitStatus) {
  output.clear();
  exitStatus = -1;
  std::FILE* pipe = _popen(command.c_str(), "rb");
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
