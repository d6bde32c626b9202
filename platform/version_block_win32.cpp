#include "platform/version_block.h"

#include <windows.h>

namespace platform {
namespace {

constexpr DWORD kMaxPath = 260;

}  // namespace

bool ProgramFilesCarryVersionResources() { return true; }

bool LoadOwnVersionResource(std::vector<uint8_t>& block) {
  block.clear();
  char path[kMaxPath];
  DWORD length = GetModuleFileNameA(nullptr, path, kMaxPath);
  if (length == 0 || length >= kMaxPath) return false;
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &handle);
  if (size == 0) return false;
  block.assign(size, 0);
  if (!GetFileVersionInfoA(path, 0, size, block.data())) {
    block.clear();
    return false;
  }
  return true;
}

}  // namespace platform
