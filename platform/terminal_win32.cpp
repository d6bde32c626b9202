#include "platform/terminal.h"

#include <conio.h>
#include <stdio.h>
#include <windows.h>

namespace platform {

bool IsInteractiveTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) &&
         GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode);
}

bool IsStandardErrorTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode);
}

// _getch reads one key from the console without echo or line editing.
// Function and arrow keys arrive as a 0 or 0xE0 lead byte and a scan code.
int ReadKey() {
  const int key = _getch();
  if (key == EOF) return kKeyEndOfInput;
  if (key == 0 || key == 0xE0) {
    _getch();
    return kKeyUnknown;
  }
  return key & 0xFF;
}

}  // namespace platform
