// The manager's access to the configuration component "Brenox.dll".
#pragma once

#include "interfaces/IConfig.h"

// The configuration interface. The first call loads "Brenox.dll" and resolves CreateConfig
// and FreeConfig; a failure shows the topmost "Error report" box and ends the process with
// exit code 1. Returns what CreateConfig returns, created once and never released; null when
// CreateConfig gives nothing (the caller then ends the process with exit code 1).
IConfig* CreateConfigInterface();
