// What every child this process starts inherits from it, put right.
#pragma once

#include <signal.h>
#include <spawn.h>

namespace platform {

// This process ignores SIGPIPE (a gone reader of its standard error must not
// end the run); an ignored signal stays ignored across exec, so each child
// gets the default back through its spawn attributes.
inline void RestoreChildSignals(posix_spawnattr_t& attributes) {
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
}

}  // namespace platform
