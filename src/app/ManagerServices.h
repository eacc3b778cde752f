// The services of other subsystems that the main window's start-up and shutdown call:
// configuration, game data, environment checks, the system data bridge, the worker
// registry and the map list. This is the one place where the window meets them; a
// service whose subsystem is not part of the build yet writes that its step was skipped
// and lets start-up go on, so that the gap is visible in the log.
#pragma once

#include <memory>
#include <string>

class IConfig;
class IPellwyn;
class QWidget;

namespace app::services {

// The configuration interface (loads "Brenox.dll"); null when there is none. The
// component shows its own "Error report" box when the library or an export is missing.
IConfig* CreateConfig();

// Loads the game data component by name; false when it cannot be loaded.
bool LoadGameData(const std::string& name);
void UnloadGameData();
// The share data object of the loaded game data component, or null.
IPellwyn* ShareData();

// Environment checks: the dump into the log directory, the integrity check of a directory
// ("" = the executable's), and the no-execute check (false ends start-up).
void EnvironmentDump(const std::string& logDir);
void IntegrityCheck(const std::string& dir);
bool DEPCheck();

// The log lights strip on its panel.
void CreateLogLights(QWidget* owner, QWidget* panel);

// Initialises the launch-control component; true when it runs (the window then polls it).
bool InitLaunchControl();

// Stops every registered worker thread.
void StopAllWorkers();

// Reloads the map list from "<mapDataDir>Map/MapID.txt" with the map manager number and
// debug flag in force; returns the number of maps now in the list.
int ReloadMapList(IConfig& config, const std::string& mapDataDir);

// The system data bridge to "_Selvane.pyd".
class SystemDataBridge {
 public:
  explicit SystemDataBridge(const std::string& path);
  ~SystemDataBridge();
  SystemDataBridge(const SystemDataBridge&) = delete;
  SystemDataBridge& operator=(const SystemDataBridge&) = delete;
  void InitPyData();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_Impl;
};

}  // namespace app::services
