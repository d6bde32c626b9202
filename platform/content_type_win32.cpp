#include "platform/content_type.h"

#include <windows.h>

#include <vector>

namespace platform {

// Windows keeps its table in the registry, not in a file.
const std::string& SystemContentTypeFile() {
  static const std::string none;
  return none;
}

std::string RegistryContentType(const std::string& extension) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, extension.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return {};
  }
  std::string type;
  DWORD size = 0;
  if (RegQueryValueExA(key, "Content Type", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
    // One spare zero byte: a value stored without its NUL still ends.
    std::vector<char> buffer(size + 1, '\0');
    if (RegQueryValueExA(key, "Content Type", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(buffer.data()), &size) == ERROR_SUCCESS) {
      type = buffer.data();
    }
  }
  RegCloseKey(key);
  return type;
}

}  // namespace platform
