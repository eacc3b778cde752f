// The manager's access to the game data component ("Pellwyn.dll"): the system-table
// share data and the map file loader. Loaded once at start-up by the main window and
// unloaded when the window is destroyed; used on the window thread.
#pragma once

#include <string>

#include "interfaces/IGameData.h"

// Loads the component and resolves its nine exports in order. The first failure is
// written with LogError and its Windows error code, the library is freed and false is
// returned. Loading while a component is loaded unloads that one first.
bool LoadGameDataComponent(const std::string& name);
// Clears every export and frees the library (nothing when none is loaded).
void UnloadGameDataComponent();
// The share data object and the map file loader; null when the component is not loaded.
IPellwyn* GetSysTableShareData();
IMapFileLoader* GetMapFileLoader();
