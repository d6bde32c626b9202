// Raw reads of the process's standard input.
#pragma once

#include <cstddef>

namespace platform {

// One read of whatever standard input has ready, waiting until something
// arrives (also when the input was inherited in non-blocking mode): the
// byte count, 0 at the end of input, -1 on an error.
long ReadStandardInput(char* destination, size_t capacity);

// Text typed on a console arrives in the characters of codePage from now
// until the program ends, so that the charset that labels the message text
// matches its bytes. Nothing where standard input is not a console, or
// where the terminal's bytes are the locale's own (POSIX).
void TypeInCodePage(unsigned codePage);

}  // namespace platform
