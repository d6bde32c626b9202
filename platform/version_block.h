// The running program's own version resource.
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

// Whether program files on this system carry a version resource; where they
// do not (POSIX), the build's product definition stands in for it.
bool ProgramFilesCarryVersionResources();

// Reads the running program's version resource into block; false when it has
// none (block is then left empty).
bool LoadOwnVersionResource(std::vector<uint8_t>& block);

}  // namespace platform
