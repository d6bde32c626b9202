// A private temporary file for data too large to hold in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Readable and writable by this process alone, in the user's temporary
// folder, and gone when closed or when the process ends however it ends
// (on POSIX it has no name once created; on Windows it is deleted on close).
class CSpoolFile {
 public:
  CSpoolFile() = default;
  ~CSpoolFile();
  CSpoolFile(const CSpoolFile&) = delete;
  CSpoolFile& operator=(const CSpoolFile&) = delete;

  // False, with failure saying why, when no such file can be made.
  bool Create(std::string& failure);
  // Appends bytes at the end; false on a write error (a full disk).
  bool Write(std::string_view bytes);
  // Back to the first byte for reading.
  bool Rewind();
  // Up to capacity bytes: the count, 0 at the end, negative on error.
  long Read(char* destination, size_t capacity);

 private:
  intptr_t m_handle = -1;
};

}  // namespace platform
