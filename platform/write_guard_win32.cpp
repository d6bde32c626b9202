#include "platform/write_guard.h"

#include <windows.h>

#include "platform/wide_text_win32.h"

namespace platform {

namespace {

class CShareGuard : public CWriteGuard {
 public:
  explicit CShareGuard(HANDLE handle) : m_handle(handle) {}
  ~CShareGuard() override { CloseHandle(m_handle); }

 private:
  HANDLE m_handle;
};

}  // namespace

// Readers may still open the file (the program's own reads included); an
// open for writing fails with a sharing violation while the handle lives.
std::unique_ptr<CWriteGuard> GuardAgainstWriters(const std::string& path) {
  HANDLE handle = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<CShareGuard>(handle);
}

}  // namespace platform
