#include "platform/path.h"

namespace platform {

// A backslash is an ordinary byte of a POSIX file name.
std::string_view PathSeparators() { return "/"; }

}  // namespace platform
