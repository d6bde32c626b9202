#include "mime/content_type_table.h"

#include <fstream>
#include <map>
#include <sstream>

#include "base/ascii_text.h"
#include "platform/content_type.h"

namespace {

// Read whole, so that a table file is parsed exactly as the same text would be.
bool ReadFile(const std::string& path, std::string& text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream content;
  content << file.rdbuf();
  text = content.str();
  return true;
}

const ContentTypeTable& TableAt(const std::string& path) {
  static std::map<std::string, ContentTypeTable> cache;
  auto found = cache.find(path);
  if (found != cache.end()) return found->second;
  std::string text;
  ContentTypeTable table =
      ReadFile(path, text) ? ParseContentTypeTable(text) : BuiltInContentTypes();
  return cache.emplace(path, std::move(table)).first->second;
}

}  // namespace

ContentTypeTable ParseContentTypeTable(std::string_view text) {
  ContentTypeTable table;
  std::istringstream lines{std::string(text)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string type;
    if (!(words >> type) || type[0] == '#') continue;
    std::string extension;
    while (words >> extension && extension[0] != '#') {
      table.emplace(AsciiLowered(extension), type);  // an earlier type keeps the extension
    }
  }
  return table;
}

// Serves when the system's table is missing, so that the common types are
// still announced as what they are.
const ContentTypeTable& BuiltInContentTypes() {
  static const ContentTypeTable table = {
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
  return table;
}

std::string FindContentType(const ContentTypeTable& table, const std::string& extension) {
  if (extension.size() < 2 || extension[0] != '.') return std::string();
  auto found = table.find(AsciiLowered(extension.substr(1)));
  return found == table.end() ? std::string() : found->second;
}

std::string RegisteredContentType(const std::string& extension, const std::string& tablePath) {
  const std::string& path = tablePath.empty() ? platform::SystemContentTypeFile() : tablePath;
  if (path.empty()) return platform::RegistryContentType(extension);
  return FindContentType(TableAt(path), extension);
}
