#include "platform/file_access.h"

#include <windows.h>
#include <aclapi.h>

namespace platform {
namespace {

// Rights that let a trustee read the file's bytes.
constexpr ACCESS_MASK kReadRights = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
  BYTE buffer[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof buffer;
  return CreateWellKnownSid(type, nullptr, buffer, &size) && EqualSid(sid, buffer);
}

}  // namespace

bool IsReadableByOthers(const std::string& path) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                            nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  // No access list at all lets everyone in.
  bool others = dacl == nullptr;
  for (DWORD i = 0; !others && dacl != nullptr && i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) continue;
    const auto* header = static_cast<ACE_HEADER*>(entry);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) {
      continue;
    }
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    if ((allowed->Mask & kReadRights) == 0) continue;
    PSID trustee = const_cast<DWORD*>(&allowed->SidStart);
    others = !(owner != nullptr && EqualSid(trustee, owner)) &&
             !IsWellKnown(trustee, WinLocalSystemSid) &&
             !IsWellKnown(trustee, WinBuiltinAdministratorsSid) &&
             !IsWellKnown(trustee, WinCreatorOwnerSid);
  }
  LocalFree(descriptor);
  return others;
}

}  // namespace platform
