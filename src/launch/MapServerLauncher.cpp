#include "launch/MapServerLauncher.h"

#include <cstdio>
#include <limits>

#include "common/Utils.h"
#include "components/LogComponent.h"
#include "interfaces/IConfig.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/message_bus.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "registry/MapServerInfoManager.h"
#include "registry/RecordAccess.h"
#include "runtime/EnvironmentChecks.h"
#include "runtime/ThreadManager.h"

namespace {

// The show mode of a launched map server: its window shown normally.
constexpr int SW_SHOWNORMAL = 1;
// How long a close waits for the map server to end by itself before it is killed.
constexpr uint32_t kCloseWaitMs = 60000;
// How long the start worker waits for a launched map server's window before it gives up
// sending it the start-all message.
constexpr uint32_t kAnnounceWaitMs = 5000;
// The script a map server runs before it closes.
constexpr const char* kCloseScript = "import Tessmark\nTessmark.RunCMD('SavePlayerBackupFile')";
constexpr const char* kRefusedReload =
    "The map list cannot be reloaded while map servers are being started or closed. Try again when that is done.";

// A text inserted into a shell command as one word, whatever it holds.
std::string ShellWord(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

// The executable's path as the first word of a command line: the platform splits command
// lines at blanks, so a path with a blank is quoted (the quotes do not reach the program).
std::string ProgramWord(const std::string& path) {
  return path.find(' ') != std::string::npos ? "\"" + path + "\"" : path;
}

}  // namespace

// Counts a wait on the window thread while it lasts: the map list must not be rebuilt
// under an operation that holds maps of it.
class MapServerLauncher::WaitScope {
 public:
  explicit WaitScope(MapServerLauncher& launcher) : m_Launcher(launcher) { ++m_Launcher.m_Waiting; }
  ~WaitScope() { --m_Launcher.m_Waiting; }
  WaitScope(const WaitScope&) = delete;
  WaitScope& operator=(const WaitScope&) = delete;

 private:
  MapServerLauncher& m_Launcher;
};

// A map claimed for a launch or a close, released at the end of the scope.
class MapClaim {
 public:
  explicit MapClaim(MapServerInfo* info) : m_Info(info != nullptr && info->TryClaim() ? info : nullptr) {}
  ~MapClaim() {
    if (m_Info != nullptr) m_Info->ReleaseClaim();
  }
  MapClaim(const MapClaim&) = delete;
  MapClaim& operator=(const MapClaim&) = delete;
  bool Held() const { return m_Info != nullptr; }

 private:
  MapServerInfo* m_Info;
};

MapServerLauncher::MapServerLauncher(const Settings& settings)
    : m_Config(settings.Config),
      m_Window(settings.Window),
      m_Hooks(settings.Hooks != nullptr ? settings.Hooks : &m_NoHooks),
      m_Maps(settings.Maps != nullptr ? settings.Maps : &GetMapServerInfoManager()),
      m_Threads(settings.Threads != nullptr ? settings.Threads : ThreadManager::GetInstance()),
      m_MapDataDir(settings.MapDataDir),
      m_Arguments(settings.Arguments),
      m_Processes(settings.MapDataDir) {}

MapServerLauncher::~MapServerLauncher() {
  // The workers run this launcher's work functions: they end before it does (the window's
  // close has usually stopped them already).
  if (m_ServiceStarted && m_Threads->GetThreadCount() > 0) m_Threads->StopAll();
}

// ---------------------------------------------------------------------------------------
// "Start"

void MapServerLauncher::StartService() {
  // Once per manager run, and never once the window closes: its workers were stopped.
  if (m_ServiceStarted || m_Window->IsClosing()) return;
  m_ServiceStarted = true;
  m_Window->SetServiceStarted();
  m_Hooks->NotifyStarting();
  m_Hooks->LoadNetCore();

  m_ServerVersion = RunLineInformationStep();
  m_Window->SetServerVersionText(FormatText("Server Version : %d", m_ServerVersion));

  {
    // No worker exists yet, so nobody else reads the list.
    auto rebuild = m_Maps->LockForRebuild(nullptr);
    const bool debug = m_Config->GetBool("cbDebugModule", false);
    m_Maps->LoadMapList(m_Config->GetInt("edtMapManagerNum", 0), m_MapDataDir + "Map/" + "MapID.txt", debug);
    for (int i = 0; i < m_Maps->GetMapInfoCount(); ++i)
      if (tagMapServerData* data = m_Maps->GetMapInfo(i)->GetShareData()) record::Store(data->DebugModule, debug ? 1 : 0);
  }
  m_Window->SetMapCount(m_Maps->GetMapInfoCount());
  m_Window->SetCaption("MapServerManager");

  m_StartEvent = m_Threads->CreateEvent("");
  m_StartEvent->ResetEvent();
  m_Threads->AddThread("StartServer", &MapServerLauncher::StartServerWork, this, false);
  m_Threads->AddThread("ClearLastWeekLog", &MapServerLauncher::ClearLastWeekLogWork, this, false);
  m_Threads->StartAll();

  RunCommandLineStarts();
  m_Hooks->NotifyStarted();
  m_Hooks->ServiceStarted();
}

void MapServerLauncher::RunCommandLineStarts() {
  if (m_Arguments.size() == 3 && AsciiLower(m_Arguments[0]) == "autostart") {
    SetControllerWindow(m_Arguments[1], m_Arguments[2]);
    CacheLaunchSettings();
    StartAllServers(false);
    NotifyController(WM_CONTROLLER_AUTOSTARTED);
  }
  for (const std::string& argument : m_Arguments) {
    if (AsciiLower(argument) != "-autolaunch") continue;
    CacheLaunchSettings();
    StartAllServers(false);
  }
}

int MapServerLauncher::RunLineInformationStep() {
  const std::string configDir = m_MapDataDir + "MapServerConfig/";
  std::string script;
  for (const char* extension : {".py", ".pyc", ".pyo"}) {
    if (platform::FileExists(configDir + "Sarvent" + extension)) {
      script = configDir + "Sarvent" + extension;
      break;
    }
  }
  if (script.empty()) return 0;

  // A result left by an earlier run must not stand for this one.
  const std::string resultPath = configDir + "SarventResult/Result.txt";
  std::remove(resultPath.c_str());

  // The values are passed as single words, so nothing in the configuration reaches the
  // shell as a command.
  const char* ip = m_Config->GetString("edt_ip", "");
  const std::string command = FormatText("%s %s %d", ShellWord(script).c_str(), ShellWord(ip != nullptr ? ip : "").c_str(),
                                         m_Config->GetInt("edt_port", 0));
  int exitCode = 0;
  platform::RunShellCommand(command, configDir, &exitCode);

  std::string text;
  if (!platform::FileExists(resultPath) || !ReadWholeFile(resultPath, text)) return 0;
  const std::vector<std::string> lines = SplitLines(text);
  if (lines.size() < 2 && m_Hooks->IsNetCoreLoaded()) {
    platform::CurrentDialogs().Message("请求版本号或者分线ID失败");
    m_Window->EndProcess(1);
  }
  if (lines.empty()) return 0;
  if (lines.size() >= 2 && m_Hooks->IsNetCoreLoaded()) {
    m_Hooks->SetLineId(TextToIntDef(lines[1], 0));
    LogObject()->TraceInfo("Line ID = %d", m_Hooks->GetLineId());
  }
  return TextToIntDef(lines[0], 0);
}

bool MapServerLauncher::SaveApply() {
  if (!ReloadMapList("btApplyClick", true)) return false;
  m_Window->SetMapCount(m_Maps->GetMapInfoCount());
  return true;
}

bool MapServerLauncher::ReloadMapList(const char* reason, bool apply) {
  auto refuse = [&] {
    LogObject()->TraceWarn("TVemoMapServerManagerMain::%s refused: a start pass or a close is in progress", reason);
    platform::CurrentDialogs().Message(kRefusedReload);
    return false;
  };
  if (m_PassRunning.load() || m_Waiting > 0) return refuse();
  auto rebuild = m_Maps->LockForRebuild([this] { return m_PassRunning.load(); });
  if (!rebuild.owns_lock()) return refuse();
  if (apply) m_Config->Apply();
  m_Maps->LoadMapList(m_Config->GetInt("edtMapManagerNum", 0), m_MapDataDir + "Map/" + "MapID.txt",
                      m_Config->GetBool("cbDebugModule", false));
  return true;
}

// ---------------------------------------------------------------------------------------
// Starting all map servers

void MapServerLauncher::CacheLaunchSettings() {
  const char* scriptPath = m_Config->GetString("edtScriptPath", "");
  m_CachedScriptPath = scriptPath != nullptr ? scriptPath : "";
  m_CachedDebugModule = m_Config->GetBool("cbDebugModule", false);
}

void MapServerLauncher::StartAllClick() {
  if (m_Config->GetBool("cbSingleServerMode", false)) {
    MiniOpenAll();
    return;
  }
  CacheLaunchSettings();
  StartAllServers(true);
}

void MapServerLauncher::StartAllServers(bool ask) {
  if (ask && !platform::CurrentDialogs().Ask("StartAll?", "Start Ask")) return;
  m_OpenInCmdLine.store(m_Window->IsStartInCmdLineChecked());
  m_Config->SetBool("cbOpenInCMDLine", m_OpenInCmdLine.load());
  m_StartAllRequested.store(true);
  if (m_StartEvent != nullptr) m_StartEvent->SetEvent();
  m_Window->ShowStatePage();
}

int MapServerLauncher::StartServerWork(void* userData, int) {
  return static_cast<MapServerLauncher*>(userData)->StartServerPass();
}

int MapServerLauncher::ClearLastWeekLogWork(void* userData, int index) {
  return ::ClearLastWeekLogWork(&static_cast<MapServerLauncher*>(userData)->m_LogsCleared, index);
}

int MapServerLauncher::StartServerPass() {
  if (m_StartEvent == nullptr) return 1;
  m_StartEvent->WaitFor(kInfinite);
  m_StartEvent->ResetEvent();
  if (!m_Threads->IsRunning()) return 1;

  m_PassRunning.store(true);
  {
    auto reading = m_Maps->ReadLock();
    m_RemainStartTime.store(0);
    const uint32_t t0 = platform::GetTickCount();
    // Written by the window thread before it signalled the event.
    const bool debug = m_CachedDebugModule;
    const std::string scriptPath = m_CachedScriptPath;
    const bool announce = m_StartAllRequested.load();
    const int count = m_Maps->GetMapInfoCount();
    std::vector<PendingAnnounce> pending;

    for (int i = 0; i < count && m_Threads->IsRunning() && !m_LaunchesEnded.load(); ++i) {
      MapServerInfo* info = m_Maps->GetMapInfo(i);
      tagMapServerData* data = info != nullptr ? info->GetShareData() : nullptr;
      if (data == nullptr || info->GetActive() == 0) continue;
      // A map that the window thread is closing or restarting is left to it.
      MapClaim claim(info);
      if (!claim.Held() || m_Processes.IsAlive(*info)) continue;

      record::Zero(*data);
      if (LaunchMap(*info, *data, debug, scriptPath) && announce)
        pending.push_back({info, platform::GetTickCount() + kAnnounceWaitMs});

      const uint32_t elapsed = platform::GetTickCount() - t0;
      m_RemainStartTime.store(static_cast<uint32_t>(count) * elapsed / static_cast<uint32_t>(i + 1) - elapsed);
      AnnounceReady(pending, false);
    }
    AnnounceReady(pending, true);
    m_LastPassDuration.store(platform::GetTickCount() - t0);
  }
  m_PassRunning.store(false);
  m_PassCount.fetch_add(1);
  return 1;
}

void MapServerLauncher::AnnounceReady(std::vector<PendingAnnounce>& pending, bool waitForAll) {
  while (!pending.empty()) {
    const uint32_t now = platform::GetTickCount();
    for (std::size_t i = 0; i < pending.size();) {
      MapServerInfo* info = pending[i].Info;
      tagMapServerData* data = info->GetShareData();
      const uint32_t window = data != nullptr ? record::Hwnd(*data) : 0;
      if (window != 0) {
        platform::SendMessage(window, WM_MAPSERVER_STARTALL, 0, 0);
      } else if (static_cast<int32_t>(now - pending[i].Deadline) >= 0) {
        LogObject()->LogWarn("MapServerLauncher::StartServerPass map %s shows no window %u ms after its launch; "
                             "it gets no start-all message",
                             info->GetMapData().GetKey().c_str(), kAnnounceWaitMs);
      } else {
        ++i;
        continue;
      }
      pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
    }
    if (!waitForAll || pending.empty() || !m_Threads->IsRunning()) return;
    platform::SleepMs(5);
  }
}

std::string MapServerLauncher::MapServerExecutable() const {
  return m_MapDataDir + (m_OpenInCmdLine.load() ? "VemoMapServer.exe" : "VemoMapServerDM.exe");
}

std::string MapServerLauncher::OneMapCommandLine(const std::string& key, bool debug,
                                                 const std::string& scriptPath) const {
  return FormatText("%s %s %d %d %s MapManager", ProgramWord(MapServerExecutable()).c_str(), key.c_str(),
                    m_ServerVersion, debug ? 1 : 0, scriptPath.c_str());
}

bool MapServerLauncher::LaunchMap(MapServerInfo& info, tagMapServerData& data, bool debug,
                                  const std::string& scriptPath) {
  // Counted before the flag is read, and EndLaunches sets the flag before it reads the
  // count: a launch either sees the end or is waited for.
  ++m_LaunchesUnderWay;
  struct UnderWay {
    std::atomic<int>& count;
    ~UnderWay() { --count; }
  } underWay{m_LaunchesUnderWay};
  if (m_LaunchesEnded.load()) return false;
  const std::string commandLine = OneMapCommandLine(info.GetMapData().GetKey(), debug, scriptPath);
  record::Store(data.ServerVersion, m_ServerVersion);
  // A failed launch shows the system's text and gives zeros: ProcessId 0 is tried again by
  // the next start of all map servers.
  const platform::ProcessInformation process = RunProcess(commandLine, m_MapDataDir, SW_SHOWNORMAL, false);
  record::Store(data.MainThreadId, process.ThreadId);
  info.SetExitExpected(false);
  info.SetProcessInfo(process);
  record::SetProcessId(data, process.ProcessId);
  return process.ProcessId != 0;
}

void MapServerLauncher::EndLaunches() {
  m_LaunchesEnded.store(true);
  // A launch that fails shows its message through the window thread: it answers meanwhile.
  while (m_LaunchesUnderWay.load() > 0) {
    platform::SleepMs(5);
    m_Window->ProcessMessages();
  }
}

bool MapServerLauncher::KillProcess(MapServerInfo& info) const {
  info.SetExitExpected(true);
  return m_Processes.KillProcess(info);
}

// ---------------------------------------------------------------------------------------
// One map at a time, on the window thread

void MapServerLauncher::StartOneServer(int position, bool ask) {
  MapServerInfo* info = m_Maps->GetMapInfo(position);
  MapClaim claim(info);
  if (info != nullptr && !claim.Held()) {
    LogObject()->TraceWarn("TVemoMapServerManagerMain::StartOneServer map index = %d is being started or closed already",
                           position);
    return;
  }
  if (!CloseClaimed(ask, info)) return;
  tagMapServerData* data = info != nullptr ? info->GetShareData() : nullptr;
  if (data == nullptr || m_Window->IsClosing()) return;

  record::Zero(*data);
  m_OpenInCmdLine.store(m_Window->IsStartInCmdLineChecked());
  m_Config->SetBool("cbOpenInCMDLine", m_OpenInCmdLine.load());
  const bool debug = m_Config->GetBool("cbDebugModule", false);
  const char* scriptPath = m_Config->GetString("edtScriptPath", "");
  LaunchMap(*info, *data, debug, scriptPath != nullptr ? scriptPath : "");
}

bool MapServerLauncher::CloseOneServer(int position, bool ask) {
  MapServerInfo* info = m_Maps->GetMapInfo(position);
  MapClaim claim(info);
  if (info != nullptr && !claim.Held()) {
    LogObject()->TraceWarn("TVemoMapServerManagerMain::CloseOneServer map index = %d is being started or closed already",
                           position);
    return false;
  }
  return CloseClaimed(ask, info);
}

bool MapServerLauncher::CloseClaimed(bool ask, MapServerInfo* info) {
  tagMapServerData* data = info != nullptr ? info->GetShareData() : nullptr;
  if (data == nullptr || !m_Processes.IsAlive(*info)) return true;
  if (ask && !platform::CurrentDialogs().Ask(FormatText("CloseThis(%s)?", info->GetDisplayName().c_str()), "CloseAsk"))
    return false;

  record::WriteScriptCmd(*data, kCloseScript);
  info->SetExitExpected(true);
  record::PostCloseRequest(*data);

  {
    WaitScope wait(*this);
    const uint32_t start = platform::GetTickCount();
    while (platform::GetTickCount() - start < kCloseWaitMs && m_Processes.IsAlive(*info)) {
      platform::SleepMs(100);
      m_Window->ProcessMessages();
      // The window is closing: the map server is left to finish its close by itself.
      if (m_Window->IsClosing()) return false;
    }
  }
  KillProcess(*info);
  m_Window->ProcessMessages();
  record::SetProcessId(*data, 0);
  return true;
}

// ---------------------------------------------------------------------------------------
// All map servers at once

void MapServerLauncher::CloseAllServers() {
  platform::Dialogs& dialogs = platform::CurrentDialogs();
  if (!dialogs.Ask("CloseAll?", "CloseAsk")) return;
  if (GetTotalPlayerCnt() != 0 && !dialogs.Ask("Not All Player Off Line. Close Sure?", "CloseAsk")) return;
  for (int i = 0; i < m_Maps->GetMapInfoCount(); ++i) {
    MapServerInfo* info = m_Maps->GetMapInfo(i);
    tagMapServerData* data = info->GetShareData();
    if (data == nullptr || !m_Processes.IsAlive(*info)) continue;
    info->SetExitExpected(true);
    record::PostCloseRequest(*data);
  }
}

void MapServerLauncher::KillAllServers() {
  platform::Dialogs& dialogs = platform::CurrentDialogs();
  if (!dialogs.Ask("KillAll?", "KillAsk")) return;
  if (GetTotalPlayerCnt() != 0 && !dialogs.Ask("Not All Player Off Line. Close Sure?", "CloseAsk")) return;
  {
    WaitScope wait(*this);
    for (int i = 0; i < m_Maps->GetMapInfoCount() && !m_Window->IsClosing(); ++i) {
      MapServerInfo* info = m_Maps->GetMapInfo(i);
      if (info->GetShareData() == nullptr || !m_Processes.IsAlive(*info)) continue;
      KillProcess(*info);
      m_Window->ProcessMessages();
    }
  }
  m_SingleServerList.Clear();
}

void MapServerLauncher::StopAllServers() {
  {
    WaitScope wait(*this);
    while (GetTotalPlayerCnt() != 0) {
      platform::SleepMs(100);
      m_Window->ProcessMessages();
      if (m_Window->IsClosing()) return;
    }
  }
  for (int i = 0; i < m_Maps->GetMapInfoCount(); ++i) {
    MapServerInfo* info = m_Maps->GetMapInfo(i);
    tagMapServerData* data = info->GetShareData();
    if (data == nullptr || !m_Processes.IsAlive(*info)) continue;
    info->SetExitExpected(true);
    record::PostCloseRequest(*data);
  }
}

int MapServerLauncher::GetTotalPlayerCnt() const {
  // Counts below zero come from a broken record: they count as none, so that they can
  // never cancel out the players of another map.
  long long total = 0;
  for (int i = 0; i < m_Maps->GetMapInfoCount(); ++i) {
    const tagMapServerData* data = m_Maps->GetMapInfo(i)->GetShareData();
    if (data == nullptr) continue;
    const int32_t players = record::PlayerCnt(*data);
    if (players > 0) total += players;
  }
  return total > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(total);
}

// ---------------------------------------------------------------------------------------
// Single-server mode

void MapServerLauncher::MiniOpenAll() {
  if (m_SingleServerList.Count() != 0) return;  // launched already
  m_Config->SetBool("cbForbiddenAutoRestart", true);
  const std::string executable = m_MapDataDir + "VemoMapServer.exe";

  for (int i = 0; i < m_Maps->GetMapInfoCount(); ++i) {
    MapServerInfo* info = m_Maps->GetMapInfo(i);
    if (info->GetShareData() != nullptr && m_Processes.IsAlive(*info)) continue;
    if (info->GetActive() == 0) continue;
    const uint32_t number = static_cast<uint32_t>(info->GetMapManagerNum());
    tagOpenParam* param = m_SingleServerList.Find(number);
    if (param == nullptr) {
      param = new tagOpenParam;
      param->MapManagerNum = number;
      m_SingleServerList.Add(number, param);
    }
    param->MapList += FormatText("%s_%d ", info->GetMapData().GetServerName().c_str(), info->GetMapData().GetMapID());
  }

  const bool debug = m_Config->GetBool("cbDebugModule", false);
  const char* scriptPathText = m_Config->GetString("edtScriptPath", "");
  const std::string scriptPath = scriptPathText != nullptr ? scriptPathText : "";
  for (int i = 0; i < m_SingleServerList.Count(); ++i) {
    tagOpenParam* param = m_SingleServerList.Get(i);
    const std::string commandLine =
        FormatText("%s %s %d %d %s MapManager %d %s", ProgramWord(executable).c_str(), "ALL", m_ServerVersion,
                   debug ? 1 : 0, scriptPath.c_str(), static_cast<int>(param->MapManagerNum), param->MapList.c_str());
    param->ProcessInfo = RunProcess(commandLine, m_MapDataDir, SW_SHOWNORMAL, false);
  }
}

void MapServerLauncher::MiniCloseAll() {
  for (int i = 0; i < m_Maps->GetMapInfoCount(); ++i) m_Maps->GetMapInfo(i)->SetExitExpected(true);
  {
    WaitScope wait(*this);
    for (int i = 0; i < m_SingleServerList.Count(); ++i) {
      MapServerProcesses::KillProcess(m_SingleServerList.Get(i)->ProcessInfo.ProcessHandle);
      m_Window->ProcessMessages();
    }
  }
  m_SingleServerList.Clear();
}

// ---------------------------------------------------------------------------------------
// Supervision on the timers

void MapServerLauncher::ProcessDisconnectCheck() {
  if (m_Config->GetBool("cbForbiddenAutoRestart", false)) return;
  // A restart of the previous check may still wait for its map server to close.
  if (m_InDisconnectCheck) return;
  m_InDisconnectCheck = true;
  for (int i = 0; i < m_Maps->GetMapInfoCount() && !m_Window->IsClosing(); ++i) {
    tagMapServerData* data = m_Maps->GetMapInfo(i)->GetShareData();
    if (data == nullptr || record::State(*data) != msDisconnected) continue;
    LogObject()->TraceDebug("TVemoMapServerManagerMain::ProcessDisconnectCheck Restart Map index = %d", i);
    StartOneServer(i, false);
    m_Restarts.NoteRestart(m_Maps->GetMapInfo(i)->GetMapData().GetMapID(), ExitedMapRestarts::rrDisconnected,
                           platform::GetTickCount());
  }
  m_InDisconnectCheck = false;
}

void MapServerLauncher::SuperviseExits() {
  if (!m_ServiceStarted || !m_Config->GetBool("RestartExitedMaps", false)) return;
  const int perMinute = m_Config->GetInt("RestartsPerMinute", 30);
  for (int i = 0; i < m_Maps->GetMapInfoCount() && !m_Window->IsClosing(); ++i) {
    MapServerInfo* info = m_Maps->GetMapInfo(i);
    tagMapServerData* data = info->GetShareData();
    if (data == nullptr || info->GetActive() == 0) continue;
    const int mapId = info->GetMapData().GetMapID();
    const uint32_t now = platform::GetTickCount();
    const platform::ProcessInformation process = info->GetProcessInfo();
    const uint32_t pid = record::ProcessId(*data);
    // Only a process this run launched or adopted for the map, and still the record's.
    if (process.ProcessHandle == 0 || pid == 0 || process.ProcessId != pid) continue;
    if (platform::IsProcessHandleRunning(process.ProcessHandle)) {
      m_Restarts.NoteRunning(mapId, pid, now);
      continue;
    }
    if (info->IsExitExpected()) continue;
    int exitCode = 0;
    platform::WaitForProcess(process.ProcessHandle, 0, &exitCode);
    m_Processes.NoteExitStatus(mapId, exitCode);
    if (const uint32_t delay = m_Restarts.NoteExited(mapId, now))
      LogObject()->LogWarn("MapServerLauncher::SuperviseExits map %s: map server %u ended by itself (exit code %d); "
                           "restart in %u ms",
                           info->GetMapData().GetKey().c_str(), pid, exitCode, delay);
    if (!m_Restarts.RestartDue(mapId, now, perMinute)) continue;
    MapClaim claim(info);
    if (!claim.Held()) continue;
    record::Zero(*data);
    m_OpenInCmdLine.store(m_Window->IsStartInCmdLineChecked());
    const char* scriptPath = m_Config->GetString("edtScriptPath", "");
    const bool launched =
        LaunchMap(*info, *data, m_Config->GetBool("cbDebugModule", false), scriptPath != nullptr ? scriptPath : "");
    m_Restarts.NoteRestart(mapId, ExitedMapRestarts::rrExited, now);
    LogObject()->LogWarn("MapServerLauncher::SuperviseExits map %s restarted (reason %s): %s",
                         info->GetMapData().GetKey().c_str(), ExitedMapRestarts::ReasonName(ExitedMapRestarts::rrExited),
                         (launched ? "map server " + std::to_string(record::ProcessId(*data)) + " started"
                                   : std::string("launch failed"))
                             .c_str());
  }
}

void MapServerLauncher::ApplyHeartbeatRule() {
  for (int i = 0; i < m_Maps->GetMapInfoCount(); ++i) {
    tagMapServerData* data = m_Maps->GetMapInfo(i)->GetShareData();
    if (data == nullptr) continue;
    const int32_t beat = record::HeartBeat(*data);
    if (beat <= -10) {
      if (record::ReplaceHeartBeat(*data, beat, 0)) record::SetState(*data, msNotExist);
    } else if (beat == 1) {
      record::ReplaceHeartBeat(*data, beat, 0);
    } else {
      record::ReplaceHeartBeat(*data, beat, beat - 1);
    }
  }
}

// ---------------------------------------------------------------------------------------
// The controller window

void MapServerLauncher::SetControllerWindow(const std::string& windowClass, const std::string& title) {
  m_ControllerClass = windowClass;
  m_ControllerTitle = title;
}

void MapServerLauncher::NotifyController(uint32_t message) const {
  // With no controller named, nothing is found and nothing is sent.
  if (m_ControllerClass.empty() && m_ControllerTitle.empty()) return;
  const platform::WindowHandle window = platform::FindWindow(m_ControllerClass, m_ControllerTitle);
  if (window != 0) platform::SendMessage(window, message, 0, 0);
}
