// Who besides its owner may read a file.
#pragma once

#include <string>

namespace platform {

// True when users other than the file's owner (its group or everyone, by
// the mode bits; on Windows an entry of its access list other than the
// owner, the system and the administrators) may read the file at path.
// False when they may not, or when that cannot be found out.
bool IsReadableByOthers(const std::string& path);

}  // namespace platform
