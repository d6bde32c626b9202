#include "platform/private_file.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/error_text.h"
#include "platform/whole_file.h"

namespace platform {
namespace {

std::string ParentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates dir and its missing parents, owner-only.
bool MakeDirectories(const std::string& dir) {
  struct stat info;
  if (stat(dir.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  std::string parent = ParentOf(dir);
  if (parent != dir && !MakeDirectories(parent)) return false;
  return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

std::string PrivateStateDirectory() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return std::string(state) + "/velsend";
  const char* home = std::getenv("HOME");
  if (home && home[0]) return std::string(home) + "/.local/state/velsend";
  return std::string();
}

PrivateRead ReadPrivateFile(const std::string& path, std::string& content) {
  content.clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? PrivateRead::Missing : PrivateRead::Failed;
  char buffer[4096];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      close(fd);
      return PrivateRead::Failed;
    }
    if (got == 0) break;
    content.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return PrivateRead::Ok;
}

bool ReplacePrivateFile(const std::string& path, const std::string& content,
                        std::string& error) {
  std::string dir = ParentOf(path);
  if (!MakeDirectories(dir)) {
    error = "cannot create " + dir + ": " + ErrorNumberText(errno);
    return false;
  }
  return ReplaceWholeFile(path, content, error);
}

CPrivateFileLock::~CPrivateFileLock() {
  if (m_descriptor >= 0) close(m_descriptor);  // releases the lock
}

bool CPrivateFileLock::Acquire(const std::string& path, int timeoutMs) {
  std::string lockPath = path + ".lock";
  if (!MakeDirectories(ParentOf(lockPath))) return false;
  m_descriptor = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (m_descriptor < 0) return false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (flock(m_descriptor, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    if (timeoutMs > 0 && std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  close(m_descriptor);
  m_descriptor = -1;
  return false;
}

}  // namespace platform
