#include "platform/report_file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool ReplaceReportFile(const std::string& path, const std::string& content,
                       std::string& error) {
  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(temporary.data());  // mode 0600
  if (fd < 0) {
    error = "cannot create a file beside " + path + ": " + std::strerror(errno);
    return false;
  }
  const char* data = content.data();
  size_t left = content.size();
  while (left) {
    const ssize_t wrote = write(fd, data, left);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      error = "cannot write " + temporary + ": " + std::strerror(errno);
      close(fd);
      unlink(temporary.c_str());
      return false;
    }
    data += wrote;
    left -= static_cast<size_t>(wrote);
  }
  if (fsync(fd) != 0 || close(fd) != 0) {
    error = "cannot write " + temporary + ": " + std::strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot replace " + path + ": " + std::strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace platform
