#include "platform/file.h"

#include <sys/stat.h>
#include <sys/types.h>

#include "platform/wide_text_win32.h"

namespace platform {
namespace {

// The wide functions take every name the file system can hold, whatever
// the ANSI code page.
bool StatusOf(const std::string& path, struct _stat64& status) {
  return _wstat64(WideFromUtf8(path).c_str(), &status) == 0;
}

}  // namespace

FileKind KindOfFile(const std::string& path) {
  struct _stat64 status {};
  if (!StatusOf(path, status)) return FileKind::kMissing;
  if ((status.st_mode & _S_IFMT) == _S_IFDIR) return FileKind::kDirectory;
  return (status.st_mode & _S_IFMT) == _S_IFREG ? FileKind::kRegular : FileKind::kOther;
}

std::FILE* OpenForReading(const std::string& path) {
  return _wfopen(WideFromUtf8(path).c_str(), L"rb");
}

long long SizeOfFile(const std::string& path) {
  struct _stat64 status {};
  if (!StatusOf(path, status) || (status.st_mode & _S_IFMT) != _S_IFREG) return -1;
  return static_cast<long long>(status.st_size);
}

}  // namespace platform
