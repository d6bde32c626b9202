// The system's table of media types by file extension.
#pragma once

#include <string>

namespace platform {

// The system's own extension table (empty where the system keeps none in a file).
const std::string& SystemContentTypeTable();

// The media type that the extension table at tablePath registers for
// extension (its "." included, such as ".txt"), matched without regard to
// case; the first type that lists the extension wins. When the table cannot
// be read, a built-in table of common types answers instead. Empty when the
// extension is not registered. Each table is read once per process.
std::string RegisteredContentType(const std::string& extension, const std::string& tablePath);

}  // namespace platform
