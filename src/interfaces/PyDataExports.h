// The exports of the system data component ("_Selvane.pyd"), shared by the bridge that
// loads it and by the component, so that the two agree on every signature.
#pragma once

#include "interfaces/ILog.h"

extern "C" {
// Builds the component's system data; called each time the share data has been loaded.
typedef int (*PyDataInitFunc)();
// Adds one block of system data bytes.
typedef int (*PyDataAddFromPackFunc)(const char* pack, int length);
// Frees what the component holds; called once, when the main window closes.
typedef void (*PyDataReleaseFunc)();
// Optional export "PyData_SetLog": the program's log source, for the component's lines.
typedef void (*PyDataSetLogFunc)(LogSourceFunc source);
}
