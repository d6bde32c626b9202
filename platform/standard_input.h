// Raw reads of the process's standard input.
#pragma once

#include <cstddef>

namespace platform {

// One read of whatever standard input has ready, waiting until something
// arrives (also when the input was inherited in non-blocking mode): the
// byte count, 0 at the end of input, -1 on an error.
long ReadStandardInput(char* destination, size_t capacity);

}  // namespace platform
