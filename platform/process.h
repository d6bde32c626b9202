// The process's set-up before anything else runs.
#pragma once

namespace platform {

// Opens the null device on any of descriptors 0, 1 and 2 that is closed, so
// that no later file or socket takes one of them: a socket on descriptor 2
// would receive the trace. Makes a reader of standard error that has gone an
// ordinary write failure instead of the end of the process. A write to a
// standard output that was closed still fails. False when a
// closed descriptor cannot be filled.
bool PrepareProcess();

}  // namespace platform
