#include "platform/temp_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/error_text.h"

namespace platform {
namespace {

class CPosixTempFile : public CTempFile {
 public:
  explicit CPosixTempFile(int fd) : m_fd(fd) {}
  ~CPosixTempFile() override { ::close(m_fd); }
  CPosixTempFile(const CPosixTempFile&) = delete;
  CPosixTempFile& operator=(const CPosixTempFile&) = delete;

  bool Append(const char* data, size_t size) override {
    while (size > 0) {
      const ssize_t n = ::pwrite(m_fd, data, size, static_cast<off_t>(m_size));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        m_failure = ErrorNumberText(n < 0 ? errno : ENOSPC);
        return false;
      }
      data += n;
      size -= static_cast<size_t>(n);
      m_size += static_cast<uint64_t>(n);
    }
    return true;
  }
  long ReadAt(uint64_t offset, char* destination, size_t capacity) override {
    for (;;) {
      const ssize_t n = ::pread(m_fd, destination, capacity, static_cast<off_t>(offset));
      if (n >= 0) return static_cast<long>(n);
      if (errno != EINTR) {
        m_failure = LastSystemErrorText();
        return -1;
      }
    }
  }
 private:
  int m_fd;
  uint64_t m_size = 0;
};

}  // namespace

std::unique_ptr<CTempFile> CreateTempFile(std::string& failure) {
  const char* directory = std::getenv("TMPDIR");
  std::string path = directory && *directory ? directory : "/tmp";
  path += "/velsend-XXXXXX";
  // mkostemp makes the file with mode 0600.
  const int fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) {
    failure = LastSystemErrorText();
    return nullptr;
  }
  // Unlinked at once: nothing is left behind, however the process ends.
  ::unlink(path.c_str());
  return std::make_unique<CPosixTempFile>(fd);
}

}  // namespace platform
