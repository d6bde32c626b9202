#include "platform/private_file.h"

#include <windows.h>
#include <wincrypt.h>

#include <chrono>

#include "platform/whole_file.h"
#include "platform/wide_text_win32.h"

namespace platform {
namespace {

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool MakeDirectories(const std::string& dir) {
  DWORD attributes = GetFileAttributesW(WideFromUtf8(dir).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return attributes & FILE_ATTRIBUTE_DIRECTORY;
  std::string parent = ParentOf(dir);
  if (parent != dir && parent.size() > 2 && !MakeDirectories(parent)) return false;
  return CreateDirectoryW(WideFromUtf8(dir).c_str(), nullptr) ||
         GetLastError() == ERROR_ALREADY_EXISTS;
}

std::string Describe(DWORD error) {
  return "system error " + std::to_string(error);
}

struct SHandle {
  HANDLE handle = INVALID_HANDLE_VALUE;
  ~SHandle() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

}  // namespace

std::string PrivateStateDirectory() {
  wchar_t buffer[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return Utf8FromWide(std::wstring(buffer, length)) + "\\velsend";
}

PrivateRead ReadPrivateFile(const std::string& path, std::string& content) {
  content.clear();
  SHandle file;
  file.handle = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file.handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PrivateRead::Missing
                                                                          : PrivateRead::Failed;
  }
  std::string sealed;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file.handle, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    sealed.append(buffer, got);
  }
  DATA_BLOB in{static_cast<DWORD>(sealed.size()),
               reinterpret_cast<BYTE*>(sealed.data())};
  DATA_BLOB out{};
  if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                          &out)) {
    return PrivateRead::Failed;
  }
  content.assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
  SecureZeroMemory(out.pbData, out.cbData);
  LocalFree(out.pbData);
  return PrivateRead::Ok;
}

bool ReplacePrivateFile(const std::string& path, const std::string& content,
                        std::string& error) {
  std::string dir = ParentOf(path);
  if (!MakeDirectories(dir)) {
    error = "cannot create " + dir + ": " + Describe(GetLastError());
    return false;
  }
  DATA_BLOB in{static_cast<DWORD>(content.size()),
               reinterpret_cast<BYTE*>(const_cast<char*>(content.data()))};
  DATA_BLOB out{};
  if (!CryptProtectData(&in, L"velsend token", nullptr, nullptr, nullptr,
                        CRYPTPROTECT_UI_FORBIDDEN, &out)) {
    error = "cannot protect the tokens: " + Describe(GetLastError());
    return false;
  }
  std::string sealed(reinterpret_cast<const char*>(out.pbData), out.cbData);
  LocalFree(out.pbData);
  return ReplaceWholeFile(path, sealed, error);
}

CPrivateFileLock::~CPrivateFileLock() {
  if (m_handle) CloseHandle(static_cast<HANDLE>(m_handle));  // releases the lock
}

bool CPrivateFileLock::Acquire(const std::string& path, int timeoutMs) {
  std::string lockPath = path + ".lock";
  if (!MakeDirectories(ParentOf(lockPath))) return false;
  HANDLE file = CreateFileW(WideFromUtf8(lockPath).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    OVERLAPPED where{};
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
      m_handle = file;
      return true;
    }
    if (timeoutMs > 0 && std::chrono::steady_clock::now() >= deadline) break;
    Sleep(50);
  }
  CloseHandle(file);
  return false;
}

}  // namespace platform
