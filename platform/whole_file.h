// Files the program writes for its caller (the run's report): replaced
// whole, so that a reader sees the old content or the new, never a part.
#pragma once

#include <string>

namespace platform {

// Writes content to a new file beside path, then renames it over path. The
// new file is readable by the owner alone: a report is no secret, but it
// names addresses. On failure nothing at path changes and error says why.
bool ReplaceReportFile(const std::string& path, const std::string& content,
                       std::string& error);

}  // namespace platform
