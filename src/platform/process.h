// Processes: start (process_launch.h); liveness, kill and wait (process_control.h); CPU
// and memory figures (process_metrics.h); and the end of this process.
#pragma once

#include <cstdint>

#include "platform/process_control.h"
#include "platform/process_launch.h"
#include "platform/process_metrics.h"

namespace platform {

void SleepMs(uint32_t ms);

// Registers `hook` to run when EndProcess ends this process (once, however often it is
// registered; the latest first). A component registers its flush once it has loaded, so a
// failure while it loads never runs it. Up to 16 hooks; any thread.
void AtEndProcess(void (*hook)());
// The one way this process ends at once, from any thread: sends the bus left waiting for a
// full receiver (up to a second), runs the hooks of AtEndProcess, lets go of the shared
// segments it holds (a name nobody else holds goes with it), flushes standard I/O and exits
// with `exitCode` without running destructors. Not for a signal handler.
[[noreturn]] void EndProcess(int exitCode);

}  // namespace platform
