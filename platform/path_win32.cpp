#include "platform/path.h"

namespace platform {

// The system accepts either in a path.
std::string_view PathSeparators() { return "\\/"; }

}  // namespace platform
