#include "platform/spool_file.h"

#include <windows.h>

#include "platform/wide_text_win32.h"

namespace platform {
namespace {

HANDLE Handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

CSpoolFile::~CSpoolFile() {
  if (m_handle != -1) CloseHandle(Handle(m_handle));
}

bool CSpoolFile::Create(std::string& failure) {
  wchar_t folder[MAX_PATH + 1];
  wchar_t path[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH || GetTempFileNameW(folder, L"vel", 0, path) == 0) {
    failure = "no temporary folder";
    return false;
  }
  // Shared with no one, and deleted by the system when the last handle goes,
  // which includes the end of the process.
  HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    failure = "cannot create " + Utf8FromWide(path);
    DeleteFileW(path);
    return false;
  }
  m_handle = reinterpret_cast<intptr_t>(file);
  return true;
}

bool CSpoolFile::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(Handle(m_handle), bytes.data(), chunk, &written, nullptr) || written == 0) {
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

bool CSpoolFile::Rewind() {
  LARGE_INTEGER zero{};
  return SetFilePointerEx(Handle(m_handle), zero, nullptr, FILE_BEGIN) != 0;
}

long CSpoolFile::Read(char* destination, size_t capacity) {
  const DWORD chunk = capacity > (1u << 30) ? (1u << 30) : static_cast<DWORD>(capacity);
  DWORD read = 0;
  if (!ReadFile(Handle(m_handle), destination, chunk, &read, nullptr)) return -1;
  return static_cast<long>(read);
}

}  // namespace platform
