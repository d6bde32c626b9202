#include "platform/standard_input.h"

#include <io.h>
#include <stdlib.h>
#include <windows.h>

#include <climits>

namespace platform {

// The runtime's read: its translation follows the descriptor's mode, which
// is binary while the message text is read.
long ReadStandardInput(char* destination, size_t capacity) {
  const unsigned int count = capacity > INT_MAX ? INT_MAX : static_cast<unsigned int>(capacity);
  for (;;) {
    const int n = _read(0, destination, count);
    // A pipe inherited in no-wait mode reports "no data" until the writer
    // sends more; an anonymous pipe cannot be waited on, so look again soon.
    if (n < 0 && _doserrno == ERROR_NO_DATA) {
      Sleep(10);
      continue;
    }
    return n;
  }
}

}  // namespace platform
