// Launching and supervision of the map servers: "Start" prepares the service once per run,
// "StartAll" wakes the start worker, which launches every active map whose map server is
// not running; single maps are closed, killed and restarted on the window thread; the
// reconnect check restarts disconnected map servers and the heartbeat rule marks as gone
// those whose heartbeat stopped. In single-server mode one process per map manager number
// serves all of that number's maps.
//
// The main window holds one MapServerLauncher and its handlers call these operations; the
// launcher reaches the window only through ILaunchWindow, and configuration, dialogs,
// clocks and processes only through their interfaces, so tests drive it without a display.
//
// Threads: everything runs on the window thread except the work functions of the two
// workers. The window thread caches the launch settings (script path and debug flag, under
// their own lock; open-in-command-line flag and start-all requested, atomic) before it
// signals the start event; the worker takes one copy of them as its pass begins. The start worker holds the map list's
// read lock for a whole pass (see MapServerInfoManager.h); a rebuild of the list during a pass, or during a wait on the
// window thread that holds maps of the list, is refused (ReloadMapList).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/AIndexList.h"
#include "launch/ExitedMapRestarts.h"
#include "launch/ILaunchWindow.h"
#include "launch/MapServerProcesses.h"
#include "launch/tagOpenParam.h"

class IConfig;
class KxThreadEvent;
class MapServerInfo;
class MapServerInfoManager;
class ThreadManager;
struct tagMapServerData;

// Window message sent to a map server launched by a start of all map servers.
constexpr uint32_t WM_MAPSERVER_STARTALL = 1024 + 3;
// Messages to the controller window (both parameters 0).
constexpr uint32_t WM_CONTROLLER_CLOSED = 0x8002;       // the manager ends by copy data 101
constexpr uint32_t WM_CONTROLLER_AUTOSTARTED = 0x8003;  // after the "autostart" command line
constexpr uint32_t WM_CONTROLLER_REGISTERED = 0x8005;   // after copy data 103

class MapServerLauncher {
 public:
  struct Settings {
    IConfig* Config = nullptr;
    ILaunchWindow* Window = nullptr;
    IServiceHooks* Hooks = nullptr;        // null: nothing but launching
    MapServerInfoManager* Maps = nullptr;  // null: the process's map list
    ThreadManager* Threads = nullptr;      // null: the process's registry
    std::string MapDataDir;                // ends with "/"
    std::vector<std::string> Arguments;    // the command line without the program name
  };

  explicit MapServerLauncher(const Settings& settings);
  ~MapServerLauncher();
  MapServerLauncher(const MapServerLauncher&) = delete;
  MapServerLauncher& operator=(const MapServerLauncher&) = delete;

  // "Start": prepares the service (network core, line information, map list, workers) and
  // runs the command-line starts.
  void StartService();
  // The line-information step: runs the line-information script and returns the server
  // version it found (0 when there is none).
  int RunLineInformationStep();
  // The "StartAll" button: single-server mode, or the cached settings and a start of all
  // map servers with the question.
  void StartAllClick();
  // A start of all map servers: wakes the start worker. `ask` asks "StartAll?" first.
  void StartAllServers(bool ask);
  // Copies "edtScriptPath" and "cbDebugModule" for the start worker.
  void CacheLaunchSettings();
  // One pass of the start worker: waits for the start event and launches every active map
  // whose map server is not alive. Returns the worker's rest in milliseconds.
  int StartServerPass();
  // Closes the map at `position` (asking when `ask`), then launches it again. True when a
  // map server was launched.
  bool StartOneServer(int position, bool ask);
  // Asks the map's map server to save and close, waits up to 60 s for it while the window
  // answers, then kills it. Returns whether to go on (false: Cancel, or the map is busy).
  bool CloseOneServer(int position, bool ask);
  // "CloseAll": asks every running map server to close (after two questions).
  void CloseAllServers();
  // "KillAll": kills every running map server (after the questions) and empties the
  // single-server launch list.
  void KillAllServers();
  // Single-server mode: one "ALL" process per map manager number; "Mini Close All" kills
  // them.
  void MiniOpenAll();
  void MiniCloseAll();
  // The reconnect check: restarts the map servers whose record says "disconnected".
  void ProcessDisconnectCheck();
  // With "RestartExitedMaps" set, once a second: starts again, after their back-off, the
  // map servers that ended by themselves (see ExitedMapRestarts.h).
  void SuperviseExits();
  // Restarts by map and reason (any thread).
  const ExitedMapRestarts& Restarts() const { return m_Restarts; }
  // Reaps the map servers that have ended (see platform::ReapEndedChildren) and logs each
  // end with its exit code. The window calls it when the children's watch descriptor turns
  // readable and on its one-second tick, so no ended map server stays a zombie.
  void ReapEndedServers();
  // The descriptors a manager with `mapCount` maps needs, about.
  static uint64_t DescriptorsNeeded(int mapCount);
  // The heartbeat rule, once per refresh tick, for every map with a record.
  void ApplyHeartbeatRule();
  // Players online in all maps with a record.
  int GetTotalPlayerCnt() const;
  // Asks every running map server to close once no player is online any more; waits,
  // with the window answering, as long as players are online.
  void StopAllServers();

  // Ends launching for the rest of the run: the running start pass stops before its next
  // map and every later launch is refused. Returns once no launch is under way (the window
  // answering meanwhile), so that whatever is alive then is all there will be. "Close every
  // map server and exit" calls it before its kill loop.
  void EndLaunches();

  // "SaveApply": Apply, then the map list reloaded and both list views given its count.
  // Refused, with a message and nothing changed, while a start pass runs or an operation
  // on the window thread holds maps of the list while it waits.
  bool SaveApply();
  // Rebuilds the map list (after Apply when `apply`) under the same rule as SaveApply.
  bool ReloadMapList(const char* reason, bool apply);

  // Liveness and kill of a map's map server (see MapServerProcesses.h).
  bool IsMapServerAlive(MapServerInfo& info) const { return m_Processes.IsAlive(info); }
  const MapServerProcesses& Processes() const { return m_Processes; }
  // A kill through here is asked for: the map is not restarted as if it had crashed.
  bool KillProcess(MapServerInfo& info) const;

  // The remaining start time estimated by the start worker, in milliseconds.
  uint32_t GetRemainStartTime() const { return m_RemainStartTime.load(); }
  int GetServerVersion() const { return m_ServerVersion; }
  bool IsServiceStarted() const { return m_ServiceStarted; }
  bool IsStartPassRunning() const { return m_PassRunning.load(); }
  bool StartAllRequested() const { return m_StartAllRequested.load(); }
  bool OpenInCmdLine() const { return m_OpenInCmdLine.load(); }
  int SingleServerCount() const { return m_SingleServerList.Count(); }
  const tagOpenParam* GetSingleServer(int index) const { return m_SingleServerList.Get(index); }
  // How long the last start pass took, in milliseconds (0 before the first), and how many
  // passes have ended.
  uint32_t GetLastPassDuration() const { return m_LastPassDuration.load(); }
  uint32_t GetStartPassCount() const { return m_PassCount.load(); }

  // The controller window: set by the "autostart" command line or by copy data 103.
  void SetControllerWindow(const std::string& windowClass, const std::string& title);
  const std::string& ControllerClass() const { return m_ControllerClass; }
  const std::string& ControllerTitle() const { return m_ControllerTitle; }
  // Sends `message` (both parameters 0) to the controller window, when it exists.
  void NotifyController(uint32_t message) const;

  // The map list this launcher supervises.
  MapServerInfoManager& Maps() const { return *m_Maps; }
  // True while an operation on the window thread waits with the window answering.
  bool IsWaiting() const { return m_Waiting > 0; }

 private:
  class WaitScope;
  // What a launch uses besides the map.
  struct LaunchSettings {
    std::string ScriptPath;
    bool DebugModule = false;
    bool OpenInCmdLine = false;
  };
  static int StartServerWork(void* userData, int index);
  static int ClearLastWeekLogWork(void* userData, int index);

  // CloseOneServer on a map already claimed by the caller.
  bool CloseClaimed(bool ask, MapServerInfo* info);
  // Builds "<exe> <key> <version> <debug> <script path> MapManager" for one map.
  std::string OneMapCommandLine(const std::string& key, const LaunchSettings& settings) const;
  // Launches a map's map server (the record already cleared) and notes the process. A
  // failure is logged and shown to the operator, once per pass when `failureShown` is given.
  bool LaunchMap(MapServerInfo& info, tagMapServerData& data, const LaunchSettings& settings, bool* failureShown);
  // The settings cached for the start worker, and those of a launch on the window thread
  // (read now; the open-in-command-line flag is taken from the window).
  LaunchSettings CachedLaunchSettings() const;
  LaunchSettings CurrentLaunchSettings();
  // One Warn line at "Start" when the open-file limit is short of what the map list needs.
  void CheckDescriptorBudget() const;
  void RunCommandLineStarts();
  // Sends the start-all message to launched map servers once their window exists.
  struct PendingAnnounce {
    MapServerInfo* Info;
    uint32_t Deadline;
  };
  void AnnounceReady(std::vector<PendingAnnounce>& pending, bool waitForAll);

  IConfig* m_Config;
  ILaunchWindow* m_Window;
  IServiceHooks m_NoHooks;
  IServiceHooks* m_Hooks;
  MapServerInfoManager* m_Maps;
  ThreadManager* m_Threads;
  std::string m_MapDataDir;
  std::vector<std::string> m_Arguments;
  MapServerProcesses m_Processes;

  int m_ServerVersion = 0;
  bool m_ServiceStarted = false;
  mutable std::mutex m_SettingsMutex;  // guards m_Cached between the window thread and the worker
  LaunchSettings m_Cached;
  std::atomic<bool> m_OpenInCmdLine{false};
  std::atomic<bool> m_StartAllRequested{false};
  KxThreadEvent* m_StartEvent = nullptr;  // owned by the thread registry
  std::atomic<uint32_t> m_RemainStartTime{0};
  std::atomic<uint32_t> m_LastPassDuration{0};
  std::atomic<bool> m_PassRunning{false};
  std::atomic<uint32_t> m_PassCount{0};
  bool m_LogsCleared = false;  // the log clean-up worker's first call ran
  AIndexList<tagOpenParam> m_SingleServerList{true};
  std::string m_ControllerClass;
  std::string m_ControllerTitle;
  int m_Waiting = 0;  // window-thread waits in progress
  ExitedMapRestarts m_Restarts;
  bool m_InDisconnectCheck = false;
  std::atomic<bool> m_LaunchesEnded{false};  // EndLaunches ran: nothing is launched any more
  std::atomic<int> m_LaunchesUnderWay{0};    // LaunchMap calls in progress, on any thread
};
