#include "platform/temp_file.h"

#include <windows.h>

#include <climits>

#include "platform/error_text.h"

namespace platform {
namespace {

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

class CWindowsTempFile : public CTempFile {
 public:
  explicit CWindowsTempFile(HANDLE handle) : m_handle(handle) {}
  ~CWindowsTempFile() override { CloseHandle(m_handle); }
  CWindowsTempFile(const CWindowsTempFile&) = delete;
  CWindowsTempFile& operator=(const CWindowsTempFile&) = delete;

  bool Append(const char* data, size_t size) override {
    while (size > 0) {
      const DWORD chunk = size > INT_MAX ? INT_MAX : static_cast<DWORD>(size);
      OVERLAPPED at = At(m_size);
      DWORD written = 0;
      if (!WriteFile(m_handle, data, chunk, &written, &at) || written == 0) {
        m_failure = LastSystemErrorText();
        return false;
      }
      data += written;
      size -= written;
      m_size += written;
    }
    return true;
  }
  long ReadAt(uint64_t offset, char* destination, size_t capacity) override {
    const DWORD chunk = capacity > INT_MAX ? INT_MAX : static_cast<DWORD>(capacity);
    OVERLAPPED at = At(offset);
    DWORD read = 0;
    if (!ReadFile(m_handle, destination, chunk, &read, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) return 0;
      m_failure = LastSystemErrorText();
      return -1;
    }
    return static_cast<long>(read);
  }
 private:
  HANDLE m_handle;
  uint64_t m_size = 0;
};

}  // namespace

std::unique_ptr<CTempFile> CreateTempFile(std::string& failure) {
  char directory[MAX_PATH + 1] = "";
  char path[MAX_PATH + 1] = "";
  const DWORD n = GetTempPathA(sizeof directory, directory);
  if (n == 0 || n > sizeof directory || GetTempFileNameA(directory, "vel", 0, path) == 0) {
    failure = LastSystemErrorText();
    return nullptr;
  }
  // Shared with no one, and deleted when the handle closes, which the
  // system does however the process ends.
  HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    failure = LastSystemErrorText();
    DeleteFileA(path);
    return nullptr;
  }
  return std::make_unique<CWindowsTempFile>(handle);
}

}  // namespace platform
