// Where the packet layer writes its log lines. The layer loads no component itself: the
// program hands it, once it has a log, the function that yields the process's log object.
// Every line asks that function at the moment it is written, so a log object that is
// released and made again, or replaced by a test, is followed. Until a program hands one
// over, or when the function yields none, the lines go nowhere.
#pragma once

#include "interfaces/ILog.h"

namespace packet {

using LogSourceFunc = ILog* (*)();

// Any thread, any time; null takes the source away again.
void SetLogSource(LogSourceFunc source);

// The log object to write to now; never null.
ILog* Log();

}  // namespace packet
