#include "platform/spool_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/error_text.h"

namespace platform {

CSpoolFile::~CSpoolFile() {
  if (m_handle >= 0) ::close(static_cast<int>(m_handle));
}

bool CSpoolFile::Create(std::string& failure) {
  const char* folder = std::getenv("TMPDIR");
  std::string path = folder && *folder ? folder : "/tmp";
  path += "/velsend-XXXXXX";
  const int fd = ::mkstemp(path.data());
  if (fd < 0) {
    failure = ErrorNumberText(errno);
    return false;
  }
  // Nameless from here on: nothing is left behind whatever ends the run.
  ::unlink(path.c_str());
  ::fchmod(fd, S_IRUSR | S_IWUSR);
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  m_handle = fd;
  return true;
}

bool CSpoolFile::Write(std::string_view bytes) {
  const int fd = static_cast<int>(m_handle);
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool CSpoolFile::Rewind() { return ::lseek(static_cast<int>(m_handle), 0, SEEK_SET) == 0; }

long CSpoolFile::Read(char* destination, size_t capacity) {
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(m_handle), destination, capacity);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

}  // namespace platform
