#include "platform/version_block.h"

namespace platform {

// An ELF program file has no place for a version resource.
bool ProgramFilesCarryVersionResources() { return false; }

bool LoadOwnVersionResource(std::vector<uint8_t>& block) {
  block.clear();
  return false;
}

}  // namespace platform
