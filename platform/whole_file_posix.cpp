#include "platform/whole_file.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

#include "platform/error_text.h"

namespace platform {
namespace {

std::string ParentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool ReplaceWholeFile(const std::string& path, const std::string& content, std::string& error) {
  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(temporary.data());  // mode 0600
  if (fd < 0) {
    error = "cannot create a file beside " + path + ": " + ErrorNumberText(errno);
    return false;
  }
  const char* data = content.data();
  size_t left = content.size();
  while (left) {
    const ssize_t wrote = write(fd, data, left);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      error = "cannot write " + temporary + ": " + ErrorNumberText(errno);
      close(fd);
      unlink(temporary.c_str());
      return false;
    }
    data += wrote;
    left -= static_cast<size_t>(wrote);
  }
  if (fsync(fd) != 0 || close(fd) != 0) {
    error = "cannot write " + temporary + ": " + ErrorNumberText(errno);
    unlink(temporary.c_str());
    return false;
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot replace " + path + ": " + ErrorNumberText(errno);
    unlink(temporary.c_str());
    return false;
  }
  // The rename itself must survive a crash too.
  const int dirFd = open(ParentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return true;
}

}  // namespace platform
