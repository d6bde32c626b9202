#include "platform/content_type.h"

namespace platform {

const std::string& SystemContentTypeFile() {
  static const std::string path = "/etc/mime.types";
  return path;
}

std::string RegistryContentType(const std::string&) { return std::string(); }

}  // namespace platform
