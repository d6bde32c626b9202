// A private scratch file for data too large to keep in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// Readable and writable by this user alone, in the system's directory for
// temporary files, and gone when the object is destroyed or the process
// ends in any way (removed at once on POSIX; deleted on close on Windows).
class CTempFile {
 public:
  virtual ~CTempFile() = default;
  // Appends size bytes; false when not all of them could be written.
  virtual bool Append(const char* data, size_t size) = 0;
  // Reads up to capacity bytes from offset: the count, 0 past the end, -1
  // on an error.
  virtual long ReadAt(uint64_t offset, char* destination, size_t capacity) = 0;
  // Why the last call that failed did, in the system's words.
  const std::string& FailureText() const { return m_failure; }

 protected:
  std::string m_failure;
};

// A new empty file; nullptr, with failure set, when none can be made.
std::unique_ptr<CTempFile> CreateTempFile(std::string& failure);

}  // namespace platform
