#include "platform/pause.h"

#include <windows.h>

namespace platform {

void PauseMs(int ms) {
  if (ms > 0) Sleep(static_cast<DWORD>(ms));
}

}  // namespace platform
