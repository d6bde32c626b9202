// Waiting between tries: the run sleeps through the system, so that tests
// can hand the client an environment that does not.
#pragma once

namespace platform {

// Waits ms milliseconds (nothing for 0 or less).
void PauseMs(int ms);

}  // namespace platform
