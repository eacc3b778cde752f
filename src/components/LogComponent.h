// The manager's access to the logging component: "Tolvar.dll" is loaded on first use
// and its one log object is used by every part of the program.
#pragma once

#include <string>

#include "interfaces/ILog.h"

// Loads "Tolvar.dll" and resolves GetLog and Log_Free, once. False, with the operator's
// text of the failure in `*failure`, when the component cannot be loaded or lacks an
// export; the caller decides what follows (start-up ends the process).
bool LoadLogComponent(std::string* failure = nullptr);
// The process's log object, loading the component on first use. While the component
// cannot be loaded, a log that writes nothing (the reason went to the debugger output once).
ILog* LogObject();
// Releases the log object (Log_Free) just before the process ends itself.
void ReleaseLogObject();
// Tests may put their own log object in place (nullptr goes back to the component).
void SetLogObjectForTesting(ILog* log);
