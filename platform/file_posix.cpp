#include "platform/file.h"

#include <sys/stat.h>

namespace platform {

FileKind KindOfFile(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return FileKind::kMissing;
  if (S_ISDIR(status.st_mode)) return FileKind::kDirectory;
  return S_ISREG(status.st_mode) ? FileKind::kRegular : FileKind::kOther;
}

std::FILE* OpenForReading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

long long SizeOfFile(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
  return static_cast<long long>(status.st_size);
}

}  // namespace platform
