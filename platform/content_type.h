// Where the system keeps its media types by file extension.
#pragma once

#include <string>

namespace platform {

// The system's extension table file in mime.types form; empty where the
// system keeps its types in the registry instead.
const std::string& SystemContentTypeFile();

// The "Content Type" value of the registry key named by extension (its "."
// included, such as ".txt"); empty when there is none, for any failure, and
// where the system has no registry.
std::string RegistryContentType(const std::string& extension);

}  // namespace platform
