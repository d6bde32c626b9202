// How the system writes file paths.
#pragma once

#include <string_view>

namespace platform {

// The bytes that separate a path's directories from each other and from
// its last name.
std::string_view PathSeparators();

}  // namespace platform
