// A file replaced whole, so that a reader, or a crash, sees the old content
// or the new, never a part: the run's report, the OAuth token file.
#pragma once

#include <string>

namespace platform {

// Writes content to a new file beside path (on POSIX readable by the owner
// alone; on Windows it takes the folder's access rules), flushes it and renames it over path. On failure nothing at path changes
// and error says why.
bool ReplaceWholeFile(const std::string& path, const std::string& content, std::string& error);

}  // namespace platform
