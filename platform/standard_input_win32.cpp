#include "platform/standard_input.h"

#include <io.h>
#include <stdlib.h>
#include <windows.h>

#include <climits>
#include <cstdlib>

namespace platform {

// The runtime's read: its translation follows the descriptor's mode, which
// is binary while the message text is read.
long ReadStandardInput(char* destination, size_t capacity) {
  const unsigned int count = capacity > INT_MAX ? INT_MAX : static_cast<unsigned int>(capacity);
  for (;;) {
    const int n = _read(0, destination, count);
    // A pipe inherited in no-wait mode reports "no data" until the writer
    // sends more; an anonymous pipe cannot be waited on, so look again soon.
    if (n < 0 && _doserrno == ERROR_NO_DATA) {
      Sleep(10);
      continue;
    }
    return n;
  }
}

namespace {

UINT g_savedInputCodePage = 0;

void RestoreInputCodePage() { SetConsoleCP(g_savedInputCodePage); }

}  // namespace

// A console otherwise delivers its own input code page (often an OEM one
// such as 850), which no charset label of the message would name.
void TypeInCodePage(unsigned codePage) {
  DWORD mode = 0;
  if (codePage == 0 || !GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) return;
  const UINT current = GetConsoleCP();
  if (current == codePage || !SetConsoleCP(codePage)) return;
  if (g_savedInputCodePage == 0) {
    g_savedInputCodePage = current;
    std::atexit(RestoreInputCodePage);
  }
}

}  // namespace platform
