// What every child this process starts inherits from it, put right.
#pragma once

#include <signal.h>
#include <spawn.h>

namespace platform {

// This process ignores SIGPIPE (a gone reader of its standard error must not
// end the run); an ignored signal stays ignored across exec, so each child
// gets the default back through its spawn attributes. Other flags already
// set are kept. False when the attributes could not be set.
[[nodiscard]] inline bool RestoreChildSignals(posix_spawnattr_t& attributes) {
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  short flags = 0;
  return posix_spawnattr_setsigdefault(&attributes, &defaults) == 0 &&
         posix_spawnattr_getflags(&attributes, &flags) == 0 &&
         posix_spawnattr_setflags(&attributes, static_cast<short>(flags | POSIX_SPAWN_SETSIGDEF)) ==
             0;
}

}  // namespace platform
