// The manager's access to the configuration component "Brenox.dll".
#pragma once

#include <string>

#include "interfaces/IConfig.h"

// The configuration interface. The first call loads "Brenox.dll" and resolves CreateConfig
// and FreeConfig. Returns what CreateConfig returns, created once and never released. Null
// when the component cannot be loaded or lacks an export, with the operator's text of that
// failure in `*failure`; null with `*failure` left empty when CreateConfig gives nothing.
// The caller decides what follows (start-up ends the process).
IConfig* CreateConfigInterface(std::string* failure = nullptr);
