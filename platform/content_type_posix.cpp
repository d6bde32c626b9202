#include "platform/content_type.h"

#include <fstream>
#include <map>
#include <sstream>
#include <unordered_map>

namespace platform {
namespace {

// Extension (lower case, no ".") to media type.
using ExtensionTable = std::unordered_map<std::string, std::string>;

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Serves when the system's table is missing, so that the common types are
// still announced as what they are.
ExtensionTable BuiltInTable() {
  return {
      {"txt", "text/plain"},         {"text", "text/plain"},
      {"htm", "text/html"},          {"html", "text/html"},
      {"csv", "text/csv"},           {"css", "text/css"},
      {"xml", "application/xml"},    {"json", "application/json"},
      {"pdf", "application/pdf"},    {"rtf", "application/rtf"},
      {"png", "image/png"},          {"gif", "image/gif"},
      {"jpg", "image/jpeg"},         {"jpeg", "image/jpeg"},
      {"bmp", "image/bmp"},          {"svg", "image/svg+xml"},
      {"zip", "application/zip"},    {"gz", "application/gzip"},
      {"tar", "application/x-tar"},  {"doc", "application/msword"},
      {"xls", "application/vnd.ms-excel"},
      {"ppt", "application/vnd.ms-powerpoint"},
      {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
      {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
      {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
      {"mp3", "audio/mpeg"},         {"mp4", "video/mp4"},
      {"eml", "message/rfc822"},
  };
}

// mime.types format: a media type, then the extensions that map to it,
// separated by blanks; "#" starts a comment line.
bool ReadTable(const std::string& path, ExtensionTable& table) {
  std::ifstream file(path);
  if (!file) return false;
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream words(line);
    std::string type;
    if (!(words >> type) || type[0] == '#') continue;
    std::string extension;
    while (words >> extension) {
      if (extension[0] == '#') break;
      table.emplace(Lower(extension), type);  // an earlier type keeps the extension
    }
  }
  return true;
}

const ExtensionTable& TableAt(const std::string& path) {
  static std::map<std::string, ExtensionTable> cache;
  auto found = cache.find(path);
  if (found != cache.end()) return found->second;
  ExtensionTable table;
  if (!ReadTable(path, table)) table = BuiltInTable();
  return cache.emplace(path, std::move(table)).first->second;
}

}  // namespace

const std::string& SystemContentTypeTable() {
  static const std::string path = "/etc/mime.types";
  return path;
}

std::string RegisteredContentType(const std::string& extension, const std::string& tablePath) {
  if (extension.size() < 2 || extension[0] != '.') return std::string();
  const ExtensionTable& table = TableAt(tablePath);
  auto found = table.find(Lower(extension.substr(1)));
  return found == table.end() ? std::string() : found->second;
}

}  // namespace platform
