// The bridge to the system data component: loaded at start-up by file name, initialised
// whenever the game data component has loaded its share data, released when the main
// window closes. A missing component only switches the bridge off.
#pragma once

#include <string>

#include "interfaces/PyDataExports.h"
#include "platform/library.h"

class CPySysGameData {
 public:
  // Loads the component at `path` (a logical name, "..._Selvane.pyd"). A file that exists
  // but cannot be loaded gets a fatal log line and LoadFailed(); the owner decides what
  // follows (start-up ends the process with exit code -1).
  explicit CPySysGameData(const std::string& path);
  // Calls PyData_Release when the component exports it. The library stays loaded.
  ~CPySysGameData();
  CPySysGameData(const CPySysGameData&) = delete;
  CPySysGameData& operator=(const CPySysGameData&) = delete;

  // Calls PyData_Init when the component exports it.
  void InitPyData();

  bool IsLoaded() const { return m_Library.IsLoaded(); }
  bool LoadFailed() const { return m_LoadFailed; }

 private:
  platform::Library m_Library;
  bool m_LoadFailed = false;
  PyDataInitFunc m_Init = nullptr;
  PyDataAddFromPackFunc m_AddFromPack = nullptr;
  PyDataReleaseFunc m_Release = nullptr;
};
