#include "platform/shell.h"

#include <windows.h>
#include <shellapi.h>

namespace platform {

// The shell picks the program for the address from the registry (the mail
// program for "mailto:", the browser for "http:"). It returns once that
// program has been started; values above 32 mean success.
bool ShellOpen(const std::string& address) {
  HINSTANCE result = ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace platform
