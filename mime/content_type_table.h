// Media types by file extension: the table in mime.types form and the look-up
// that LookupContentType uses.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

// The type of a file whose extension names none, and of opaque data.
constexpr char kDefaultContentType[] = "application/octet-stream";

// Extension (lower case, without its ".") to media type.
using ContentTypeTable = std::unordered_map<std::string, std::string>;

// Parses text in mime.types form: on each line a media type, then the
// extensions that map to it, separated by blanks; "#" starts a comment. An
// extension listed twice keeps the first type.
ContentTypeTable ParseContentTypeTable(std::string_view text);

// The common types, for a system whose table file cannot be read.
const ContentTypeTable& BuiltInContentTypes();

// The media type that table registers for extension (its "." included, such
// as ".txt"), matched without regard to case; empty when not registered.
std::string FindContentType(const ContentTypeTable& table, const std::string& extension);

// The media type registered for extension by the table file at tablePath, or
// by the system's own source when tablePath is empty (its table file, or the
// registry where the system keeps the types there). A table file that cannot
// be read gives way to the built-in table. Each file is read once per process.
std::string RegisteredContentType(const std::string& extension, const std::string& tablePath);
