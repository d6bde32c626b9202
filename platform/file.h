// Opening the files the user names.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

enum class FileKind { kMissing, kRegular, kDirectory, kOther };

// What path names; kMissing also when it cannot be looked at. Paths are the
// program's own text: UTF-8 on Windows, the locale's bytes on POSIX.
FileKind KindOfFile(const std::string& path);

// The file at path opened for reading in binary mode; nullptr with the
// runtime's error number set when it cannot be.
std::FILE* OpenForReading(const std::string& path);

// The size of the regular file at path in bytes; -1 when unknown.
long long SizeOfFile(const std::string& path);

}  // namespace platform
