// Binary (untranslated) mode for the standard streams.
#pragma once

namespace platform {

// Switches descriptor fd to binary mode and returns the mode it had.
int SetBinaryMode(int fd);
// Gives descriptor fd back a mode returned by SetBinaryMode.
void RestoreMode(int fd, int mode);

}  // namespace platform
