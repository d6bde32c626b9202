#include "platform/config_file.h"

#include <sys/stat.h>

#include <cstdlib>

namespace platform {

std::string ConfigFilePath() {
  const char* named = std::getenv("VELSEND_CONFIG");
  if (named && *named) return named;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  // A relative XDG_CONFIG_HOME is to be ignored.
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/velsend/config";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.config/velsend/config";
  return std::string();
}

EFileAccess FileReadAccess(const std::string& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return EFileAccess::kUnknown;
  return (status.st_mode & (S_IRWXG | S_IRWXO)) != 0 ? EFileAccess::kOthersMayRead
                                                     : EFileAccess::kOwnerOnly;
}

std::string OwnerOnlyCommand(const std::string& path) { return "chmod 600 " + path; }

}  // namespace platform
