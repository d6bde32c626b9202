#include "platform/report_file.h"

#include <windows.h>

namespace platform {
namespace {

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                      length);
  return wide;
}

std::string Describe(DWORD error) { return "system error " + std::to_string(error); }

}  // namespace

bool ReplaceReportFile(const std::string& path, const std::string& content,
                       std::string& error) {
  const std::string temporary = path + ".new" + std::to_string(GetCurrentProcessId());
  HANDLE file = CreateFileW(Wide(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
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
    DeleteFileW(Wide(temporary).c_str());
    return false;
  }
  if (!MoveFileExW(Wide(temporary).c_str(), Wide(path).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = "cannot replace " + path + ": " + Describe(GetLastError());
    DeleteFileW(Wide(temporary).c_str());
    return false;
  }
  return true;
}

}  // namespace platform
