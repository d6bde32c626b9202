#include "platform/file_access.h"

#include <sys/stat.h>

namespace platform {

bool IsReadableByOthers(const std::string& path) {
  struct stat status = {};
  if (::stat(path.c_str(), &status) != 0) return false;
  return (status.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

}  // namespace platform
