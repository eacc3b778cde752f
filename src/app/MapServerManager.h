// The manager behind the main window: the configuration, the single-instance segment, the
// map data directory, the game data and system data components, and the subsystems that
// act (the launcher, the operator's commands, the status server link, the /metrics page),
// with the hooks that "Start" calls. The window holds one and its handlers call it; tests
// may call it too. Everything here runs on the window thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/InstanceSegment.h"
#include "launch/ILaunchWindow.h"

class CPySysGameData;
class IConfig;
class IManagerFigures;
class IStatusLinkView;
class MapServerInfoManager;
class MapServerLauncher;
class MetricsServer;
class OperatorCommands;
class StatusLinkControl;

namespace app {

class MapServerManager : private IServiceHooks {
 public:
  // `window` answers the launcher; `linkView` shows the status link's state.
  MapServerManager(ILaunchWindow& window, std::unique_ptr<IStatusLinkView> linkView);
  ~MapServerManager() override;
  MapServerManager(const MapServerManager&) = delete;
  MapServerManager& operator=(const MapServerManager&) = delete;

  // Filled by start-up, in its order.
  void SetConfig(IConfig* config, std::string filePath);
  InstanceSegment& Instance() { return m_InstanceSegment; }
  // The map data directory ("<exeDir>MapServerData/") and the launcher that uses it.
  // `arguments` are the command-line arguments ("autostart", "-autolaunch").
  void CreateLauncher(const std::string& mapDataDir, const std::vector<std::string>& arguments);
  void SetGameDataLoaded() { m_GameDataLoaded = true; }
  // The system data bridge, from "<map data directory>Script/_Selvane.pyd". False when the
  // file is there but cannot be loaded (the bridge has written why).
  bool CreateSysGameData();

  IConfig* Config() const { return m_Config; }
  const std::string& ConfigFilePath() const { return m_ConfigFilePath; }
  const std::string& MapDataDir() const { return m_MapDataDir; }
  // Null until start-up has set the map data directory.
  MapServerLauncher* Launcher() const { return m_Launcher.get(); }
  // The map list the views show.
  MapServerInfoManager& Maps() const;
  // The operator's commands; null until the launcher exists.
  OperatorCommands* Commands();
  // The status server link; made on first use, once the configuration is open.
  StatusLinkControl& StatusLink();

  // The last steps of start-up: the launch-control component (true when it runs, and the
  // window then polls it) and, with "MetricsPort" set, the /metrics page.
  bool StartLaunchControl();
  void StartMetrics();
  // Message 1029: the game data component's share data, then the system data bridge.
  void LoadShareData();

  // The window closes: the status link and its thread first, then the /metrics page, every
  // worker, and the system data bridge.
  void Close();
  // The window is destroyed: the launch-control component, the status logic component, the
  // game data component and the instance segment are let go. Runs once.
  void Destroy();

 private:
  // What "Start" prepares besides launching.
  void LoadNetCore() override;
  bool IsNetCoreLoaded() override;
  void SetLineId(int lineId) override;
  int GetLineId() override;
  void NotifyStarting() override;
  void NotifyStarted() override;
  // With "AutoConnectStatusServer" set, the status link starts right after "Start".
  void ServiceStarted() override;

  ILaunchWindow& m_Window;
  IConfig* m_Config = nullptr;
  std::string m_ConfigFilePath;
  std::string m_MapDataDir;
  InstanceSegment m_InstanceSegment;
  std::unique_ptr<CPySysGameData> m_SysGameData;
  bool m_GameDataLoaded = false;
  bool m_Destroyed = false;
  std::unique_ptr<MapServerLauncher> m_Launcher;
  std::unique_ptr<OperatorCommands> m_Commands;
  std::unique_ptr<IStatusLinkView> m_StatusLinkView;
  std::unique_ptr<StatusLinkControl> m_StatusLink;
  std::unique_ptr<IManagerFigures> m_ManagerFigures;
  std::unique_ptr<MetricsServer> m_Metrics;
};

}  // namespace app
