#include "platform/code_page.h"

#include <windows.h>

namespace platform {

// The system's ANSI code page is the character set of every byte string the
// program handles, so it is the charset of text parts.
unsigned DefaultCodePage() { return GetACP(); }

std::string LocaleCodeSet() { return std::string(); }

}  // namespace platform
