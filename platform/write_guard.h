// Keeping other programs from writing to a file while it is being sent.
#pragma once

#include <memory>
#include <string>

namespace platform {

// Held while a file must keep its bytes; releasing it lets writers in again.
class CWriteGuard {
 public:
  virtual ~CWriteGuard() = default;
};

// A guard on the file at path where the system enforces one (Windows opens
// it with read sharing only). nullptr where it does not, or when a writer
// already has the file open: the file is then read as it is, and a change
// is found by comparing its bytes instead.
std::unique_ptr<CWriteGuard> GuardAgainstWriters(const std::string& path);

}  // namespace platform
