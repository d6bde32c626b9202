#include "platform/config_file.h"

#include <windows.h>
#include <aclapi.h>

#include "platform/wide_text_win32.h"

namespace platform {
namespace {

std::string Variable(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return std::string();
  std::wstring value(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
  if (length == 0 || length >= size) return std::string();
  value.resize(length);
  return Utf8FromWide(value);
}

// The owner, the system and the administrators can read any file anyway.
bool IsTrusted(PSID sid, PSID owner) {
  if (owner && EqualSid(sid, owner)) return true;
  return IsWellKnownSid(sid, WinLocalSystemSid) ||
         IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
         IsWellKnownSid(sid, WinCreatorOwnerSid);
}

}  // namespace

std::string ConfigFilePath() {
  const std::string named = Variable(L"VELSEND_CONFIG");
  if (!named.empty()) return named;
  const std::string appData = Variable(L"APPDATA");
  if (!appData.empty()) return appData + "\\velsend\\config";
  return std::string();
}

EFileAccess FileReadAccess(const std::string& path) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::wstring wide = WideFromUtf8(path);
  if (GetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                            nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return EFileAccess::kUnknown;
  }
  // No DACL at all grants everyone everything.
  EFileAccess access = dacl ? EFileAccess::kOwnerOnly : EFileAccess::kOthersMayRead;
  const DWORD kOpen = FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_READ |
                      GENERIC_WRITE | GENERIC_ALL | WRITE_DAC | WRITE_OWNER;
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
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    PSID sid = &allowed->SidStart;
    if ((allowed->Mask & kOpen) != 0 && !IsTrusted(sid, owner)) {
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
