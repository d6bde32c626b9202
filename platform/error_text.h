// The system's words for why a call failed.
#pragma once

#include <string>

namespace platform {

// The C runtime's error number (errno) of the last call that failed on this
// thread; the runtime's file and standard-input reads set it on both systems.
int LastErrorNumber();
// The text for an error number, as the runtime words it in its default
// locale ("No such file or directory", "Permission denied").
std::string ErrorNumberText(int error);

}  // namespace platform
