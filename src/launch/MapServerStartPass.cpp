// The start of all map servers: the launch settings handed to the start worker, its pass
// over the map list, the start-all message to each new map server, and one launch.
#include <optional>

#include "common/Utils.h"
#include "components/LogComponent.h"
#include "interfaces/IConfig.h"
#include "launch/LaunchScopes.h"
#include "launch/MapServerLauncher.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/message_bus.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "registry/MapServerInfoManager.h"
#include "registry/RecordAccess.h"
#include "runtime/EnvironmentChecks.h"
#include "runtime/ThreadManager.h"

using launch_detail::MapClaim;
using launch_detail::ProgramWord;

namespace {

// How long the start worker waits for a launched map server's window before it gives up
// sending it the start-all message.
constexpr uint32_t kAnnounceWaitMs = 5000;

}  // namespace

void MapServerLauncher::CacheLaunchSettings() {
  const char* scriptPath = m_Config->GetString("edtScriptPath", "");
  const bool debug = m_Config->GetBool("cbDebugModule", false);
  std::lock_guard<std::mutex> lock(m_SettingsMutex);
  m_Cached.ScriptPath = scriptPath != nullptr ? scriptPath : "";
  m_Cached.DebugModule = debug;
}

MapServerLauncher::LaunchSettings MapServerLauncher::CachedLaunchSettings() const {
  std::lock_guard<std::mutex> lock(m_SettingsMutex);
  LaunchSettings settings = m_Cached;
  settings.OpenInCmdLine = m_OpenInCmdLine.load();
  return settings;
}

MapServerLauncher::LaunchSettings MapServerLauncher::CurrentLaunchSettings() {
  LaunchSettings settings;
  settings.OpenInCmdLine = m_Window->IsStartInCmdLineChecked();
  m_OpenInCmdLine.store(settings.OpenInCmdLine);
  settings.DebugModule = m_Config->GetBool("cbDebugModule", false);
  const char* scriptPath = m_Config->GetString("edtScriptPath", "");
  settings.ScriptPath = scriptPath != nullptr ? scriptPath : "";
  return settings;
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
    // A copy of what the window thread cached before it signalled: a click meanwhile
    // changes the next pass, not this one.
    const LaunchSettings settings = CachedLaunchSettings();
    const bool announce = m_StartAllRequested.load();
    bool failureShown = false;
    const int count = m_Maps->GetMapInfoCount();
    std::vector<PendingAnnounce> pending;
    // The running map servers by key, looked up once, before the first launch.
    std::optional<MapServerProcesses::KeyIndex> running;

    for (int i = 0; i < count && m_Threads->IsRunning() && !m_LaunchesEnded.load(); ++i) {
      MapServerInfo* info = m_Maps->GetMapInfo(i);
      tagMapServerData* data = info != nullptr ? info->GetShareData() : nullptr;
      if (data == nullptr || info->GetActive() == 0) continue;
      // A map that the window thread is closing or restarting is left to it.
      MapClaim claim(info);
      if (!claim.Held() || m_Processes.IsAlive(*info)) continue;
      if (!running) running = m_Processes.FindRunningByKey();
      if (m_Processes.AdoptByKey(*info, *running)) continue;

      record::Zero(*data);
      if (LaunchMap(*info, *data, settings, &failureShown) && announce)
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
        LogObject()->LogWarn(
            "MapServerLauncher::StartServerPass map %s shows no window %u ms after its launch; "
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

std::string MapServerLauncher::OneMapCommandLine(const std::string& key, const LaunchSettings& settings) const {
  const std::string executable = m_MapDataDir + (settings.OpenInCmdLine ? "VemoMapServer.exe" : "VemoMapServerDM.exe");
  return FormatText("%s %s %d %d %s MapManager", ProgramWord(executable).c_str(), key.c_str(), m_ServerVersion,
                    settings.DebugModule ? 1 : 0, settings.ScriptPath.c_str());
}

bool MapServerLauncher::LaunchMap(MapServerInfo& info, tagMapServerData& data, const LaunchSettings& settings,
                                  bool* failureShown) {
  // Counted before the flag is read, and EndLaunches sets the flag before it reads the
  // count: a launch either sees the end or is waited for.
  ++m_LaunchesUnderWay;
  struct UnderWay {
    std::atomic<int>& count;
    ~UnderWay() { --count; }
  } underWay{m_LaunchesUnderWay};
  if (m_LaunchesEnded.load()) return false;
  const std::string commandLine = OneMapCommandLine(info.GetMapData().GetKey(), settings);
  record::Store(data.ServerVersion, m_ServerVersion);
  // A failed launch (the program did not run, or no handle could be had for it) gives
  // zeros: ProcessId 0 is tried again by the next start of all map servers. The system's
  // text goes to the log for every map and to the operator once per pass.
  platform::ProcessInformation process;
  int errorCode = 0;
  if (!platform::StartProcess(commandLine, m_MapDataDir, false, &process, &errorCode)) {
    process = platform::ProcessInformation();
    const std::string why = platform::SystemErrorText(errorCode);
    LogObject()->LogError("MapServerLauncher::LaunchMap map %s was not launched: %s",
                          info.GetMapData().GetKey().c_str(), why.c_str());
    if (failureShown == nullptr || !*failureShown) platform::CurrentDialogs().Message(why);
    if (failureShown != nullptr) *failureShown = true;
  }
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
