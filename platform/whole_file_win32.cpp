#include "platform/whole_file.h"

#include <windows.h>

#include "platform/wide_text_win32.h"

namespace platform {
namespace {

std::string Describe(DWORD error) { return "system error " + std::to_string(error); }

}  // namespace

bool ReplaceWholeFile(const std::string& path, const std::string& content, std::string& error) {
  const std::string temporary = path + ".new" + std::to_string(GetCurrentProcessId());
  const std::wstring wideTemporary = WideFromUtf8(temporary);
  HANDLE file = CreateFileW(wideTemporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot create " + temporary + ": " + Describe(GetLastError());
    return false;
  }
  DWORD wrote = 0;
  const bool written = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &wrote,
                                 nullptr) &&
                       wrote == content.size() && FlushFileBuffers(file);
  const DWORD writeError = GetLastError();
  CloseHandle(file);
  if (!written) {
    error = "cannot write " + temporary + ": " + Describe(writeError);
    DeleteFileW(wideTemporary.c_str());
    return false;
  }
  if (!MoveFileExW(wideTemporary.c_str(), WideFromUtf8(path).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = "cannot replace " + path + ": " + Describe(GetLastError());
    DeleteFileW(wideTemporary.c_str());
    return false;
  }
  return true;
}

}  // namespace platform
