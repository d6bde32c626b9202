#include "platform/content_type.h"

#include <windows.h>

#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace platform {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The "Content Type" value of the extension's key under HKEY_CLASSES_ROOT;
// empty for any failure.
std::string FromRegistry(const std::string& extension) {
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

// A table in mime.types form given explicitly (tests): a media type, then
// the extensions that map to it; "#" starts a comment. Read once per path.
std::string FromTable(const std::string& extension, const std::string& path) {
  static std::map<std::string, std::map<std::string, std::string>> cache;
  auto found = cache.find(path);
  if (found == cache.end()) {
    std::map<std::string, std::string> table;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
      std::istringstream words(line);
      std::string type;
      if (!(words >> type) || type[0] == '#') continue;
      std::string name;
      while (words >> name && name[0] != '#') table.emplace(Lower(name), type);
    }
    found = cache.emplace(path, std::move(table)).first;
  }
  if (extension.size() < 2 || extension[0] != '.') return {};
  auto type = found->second.find(Lower(extension.substr(1)));
  return type == found->second.end() ? std::string() : type->second;
}

}  // namespace

// Windows keeps its table in the registry, not in a file.
const std::string& SystemContentTypeTable() {
  static const std::string none;
  return none;
}

std::string RegisteredContentType(const std::string& extension, const std::string& tablePath) {
  return tablePath.empty() ? FromRegistry(extension) : FromTable(extension, tablePath);
}

}  // namespace platform
