#include "platform/standard_input.h"

#include <io.h>

#include <climits>

namespace platform {

// The runtime's read: its translation follows the descriptor's mode, which
// is binary while the message text is read.
long ReadStandardInput(char* destination, size_t capacity) {
  const unsigned int count = capacity > INT_MAX ? INT_MAX : static_cast<unsigned int>(capacity);
  return _read(0, destination, count);
}

}  // namespace platform
