#include "platform/write_guard.h"

namespace platform {

// POSIX locks are advisory: no writer would heed one.
std::unique_ptr<CWriteGuard> GuardAgainstWriters(const std::string&) { return nullptr; }

}  // namespace platform
