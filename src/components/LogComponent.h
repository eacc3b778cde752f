// The manager's access to the logging component: "Tolvar.dll" is loaded on first use
// and its one log object is used by every part of the program.
#pragma once

#include "interfaces/ILog.h"

// The process's log object. The first call loads "Tolvar.dll" and resolves GetLog and
// Log_Free; a failure shows the topmost "Error report" box and ends the process with 1.
ILog* LogObject();
// Releases the log object (Log_Free) just before the process ends itself.
void ReleaseLogObject();
// Tests may put their own log object in place (nullptr goes back to the component).
void SetLogObjectForTesting(ILog* log);
