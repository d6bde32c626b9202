#include "platform/process.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdlib>

namespace platform {
namespace {

// The runtime gives a descriptor without a handle -1 or -2 (no console).
// Wine gives a closed standard input a handle that claims to be a disk file
// and cannot be read (a directory's): that is a closed one too. A read of
// no bytes tells, and moves nothing.
bool IsOpen(int fd) {
  const intptr_t handle = _get_osfhandle(fd);
  if (handle == -1 || handle == -2) return false;
  const HANDLE file = reinterpret_cast<HANDLE>(handle);
  if (fd != 0 || GetFileType(file) != FILE_TYPE_DISK) return true;
  char none = 0;
  DWORD read = 0;
  return ReadFile(file, &none, 0, &read, nullptr) || GetLastError() != ERROR_INVALID_FUNCTION;
}

// Standard output is filled for reading only: what is written to a closed
// one fails as it would have, so a dry run does not show its message to
// nobody and call that success.
bool FillWithNullDevice(int fd) {
  int null = _open("NUL", fd == 2 ? _O_WRONLY : _O_RDONLY);
  if (null < 0) return false;
  if (null == fd) return true;
  bool filled = _dup2(null, fd) == 0;
  _close(null);
  return filled;
}

UINT g_savedOutputCodePage = 0;

void RestoreOutputCodePage() { SetConsoleOutputCP(g_savedOutputCodePage); }

// The program's own text (file names in error lines, the trace) is UTF-8;
// a console shows it as such only in the UTF-8 output code page.
void ShowUtf8OnTheConsole() {
  DWORD mode = 0;
  if (!GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) &&
      !GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) {
    return;
  }
  const UINT current = GetConsoleOutputCP();
  if (current == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) return;
  g_savedOutputCodePage = current;
  std::atexit(RestoreOutputCodePage);
}

}  // namespace

// Windows has no SIGPIPE: a write to a pipe without a reader fails alone.
bool PrepareProcess() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (!IsOpen(fd) && !FillWithNullDevice(fd)) return false;
  }
  ShowUtf8OnTheConsole();
  return true;
}

}  // namespace platform
