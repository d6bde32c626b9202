// A small file that holds secrets (OAuth 2.0 tokens): read and replaced
// whole, readable by its owner alone, and a lock that serialises the runs
// that update it.
#pragma once

#include <string>

namespace platform {

// The directory for such files: $XDG_STATE_HOME/velsend (default
// ~/.local/state/velsend) on POSIX systems, %LOCALAPPDATA%\velsend on
// Windows; empty when the system names none.
std::string PrivateStateDirectory();

enum class PrivateRead { Ok, Missing, Failed };

// The content, decrypted on Windows (the user's DPAPI key).
PrivateRead ReadPrivateFile(const std::string& path, std::string& content);

// Writes a new file beside path (owner-only, encrypted on Windows), flushes
// it and renames it over path, so that a reader or a crash sees either the
// old content or the new one, whole. Creates the parent directory
// (owner-only) when missing. On failure, error says why.
bool ReplacePrivateFile(const std::string& path, const std::string& content,
                        std::string& error);

// An exclusive lock on path + ".lock", held until destruction; other runs
// wait in Acquire.
class CPrivateFileLock {
 public:
  CPrivateFileLock() = default;
  ~CPrivateFileLock();
  CPrivateFileLock(const CPrivateFileLock&) = delete;
  CPrivateFileLock& operator=(const CPrivateFileLock&) = delete;

  // Waits at most timeoutMs (0: no bound); false when it could not lock.
  bool Acquire(const std::string& path, int timeoutMs);

 private:
  void* m_handle = nullptr;
  int m_descriptor = -1;
};

}  // namespace platform
