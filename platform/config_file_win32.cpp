#include "platform/config_file.h"

#include <windows.h>
#include <aclapi.h>

#include <cstdlib>

namespace platform {

std::string DefaultConfigPath() {
  const char* appData = std::getenv("APPDATA");
  if (appData && *appData) return std::string(appData) + "\\velsend\\config";
  return std::string();
}

namespace {

// The owner, the system and the administrators can read any file anyway.
bool IsTrusted(PSID sid, PSID owner) {
  if (owner && EqualSid(sid, owner)) return true;
  return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

}  // namespace

EFileAccess FileReadAccess(const std::string& path) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                            nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return EFileAccess::kUnknown;
  }
  // No DACL at all grants everyone everything.
  EFileAccess access = dacl ? EFileAccess::kOwnerOnly : EFileAccess::kOthersMayRead;
  const DWORD kRead = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) {
      access = EFileAccess::kUnknown;
      break;
    }
    const auto* header = static_cast<ACE_HEADER*>(entry);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) {
      continue;
    }
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if ((allowed->Mask & kRead) != 0 && !IsTrusted(sid, owner)) {
      access = EFileAccess::kOthersMayRead;
      break;
    }
  }
  LocalFree(descriptor);
  return access;
}

std::string OwnerOnlyCommand(const std::string& path) {
  return "icacls \"" + path + "\" /inheritance:r /grant:r \"%USERNAME%\":F";
}

}  // namespace platform
