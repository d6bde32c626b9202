// What the files of CLineSocket (net/line_socket*.cpp) share: the line-end
// bytes and the size of the blocks gathered sends and trace go out in. Not
// for use outside them.
#pragma once

#include <cstddef>

namespace line_socket {

constexpr int kCr = 13;
constexpr int kLf = 10;
inline bool IsBreak(int c) { return c == kCr || c == kLf; }

// Gathered sends and trace go out in blocks of about this size.
constexpr size_t kBlock = 256 * 1024;

}  // namespace line_socket
