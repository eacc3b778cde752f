// The network core of the status server link ("Tiravo.dll" beside the executable): loaded
// by the main window's "Start", released when the link stops. The core object comes from
// the library's GetTiravo, asked afresh before every use.
//
// Sends may come from any thread (the request thread, the window thread, the status logic
// component's own threads); they hold the core loaded while they run, so an unload waits
// for a send in progress and a send after the unload is refused.
#pragma once

#include "interfaces/ITiravo.h"

// Loads the executable's directory + "Tiravo.dll" and resolves GetTiravo; a library without
// the export is released again and nothing is kept.
void LoadNetCore();
// Both the library and its GetTiravo are present.
bool IsNetCoreLoaded();
// Releases the library, if loaded, and forgets both.
void UnloadNetCore();

// The core object, or null while no core is loaded.
ITiravo* NetCore();
// One message through the core's SendPack; false (and nothing sent) while no core is
// loaded. The send function that the status logic component and scripts are given.
bool NetCoreSendPack(const char* head, int headLen, const char* body, int bodyLen);

// What the manager hands a loaded core (SetTiravoHost): its log, its framer and the filling of
// its packets. Tests and benchmarks that load the core themselves hand it the same.
const tagTiravoHost* NetCoreHost();

// Tests put a core in place without a library (null forgets it).
void SetNetCoreForTesting(GetTiravoFunc getTiravo);
