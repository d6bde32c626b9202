// Hands an address to the desktop's opener (mail program, web browser).
#pragma once

#include <string>

namespace platform {

// Opens address with the desktop's opener and waits until the opener has
// finished; false when it could not be started or reported a failure.
bool ShellOpen(const std::string& address);

}  // namespace platform
