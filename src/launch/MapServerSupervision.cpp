// Single-server mode and the supervision that the window's timers drive: the reconnect
// check, the restart of map servers that ended by themselves, reaping, the heartbeat rule.
#include "common/Utils.h"
#include "components/LogComponent.h"
#include "interfaces/IConfig.h"
#include "launch/LaunchScopes.h"
#include "launch/MapServerLauncher.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "registry/MapServerInfoManager.h"
#include "registry/MapServerState.h"
#include "registry/RecordAccess.h"

using launch_detail::MapClaim;
using launch_detail::ProgramWord;

namespace {

// The show mode of a launched map server: its window shown normally.
constexpr int SW_SHOWNORMAL = 1;

}  // namespace

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
    param->Owner.reset(param->ProcessInfo.ProcessHandle);
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
    if (StartOneServer(i, false))
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
      LogObject()->LogWarn(
          "MapServerLauncher::SuperviseExits map %s: map server %u ended by itself (exit code %d); "
          "restart in %u ms",
          info->GetMapData().GetKey().c_str(), pid, exitCode, delay);
    if (!m_Restarts.RestartDue(mapId, now, perMinute)) continue;
    MapClaim claim(info);
    if (!claim.Held()) continue;
    record::Zero(*data);
    const bool launched = LaunchMap(*info, *data, CurrentLaunchSettings(), nullptr);
    m_Restarts.NoteRestart(mapId, ExitedMapRestarts::rrExited, now);
    LogObject()->LogWarn("MapServerLauncher::SuperviseExits map %s restarted (reason %s): %s",
                         info->GetMapData().GetKey().c_str(),
                         ExitedMapRestarts::ReasonName(ExitedMapRestarts::rrExited),
                         (launched ? "map server " + std::to_string(record::ProcessId(*data)) + " started"
                                   : std::string("launch failed"))
                             .c_str());
  }
}

void MapServerLauncher::ReapEndedServers() {
  for (const platform::EndedChild& child : platform::ReapEndedChildren()) {
    MapServerInfo* ended = nullptr;
    for (int i = 0; i < m_Maps->GetMapInfoCount() && ended == nullptr; ++i) {
      MapServerInfo* info = m_Maps->GetMapInfo(i);
      if (info->GetProcessInfo().ProcessId == child.ProcessId) ended = info;
    }
    if (ended == nullptr) continue;  // a single-server process or a helper program
    m_Processes.NoteExitStatus(ended->GetMapData().GetMapID(), child.ExitCode);
    // An unasked end with restarts on is said by SuperviseExits, with the restart's delay.
    if (!ended->IsExitExpected() && m_ServiceStarted && m_Config->GetBool("RestartExitedMaps", false)) continue;
    if (ended->IsExitExpected())
      LogObject()->LogInfo("MapServerLauncher::SuperviseExits map %s: map server %u ended (exit code %d)",
                           ended->GetMapData().GetKey().c_str(), child.ProcessId, child.ExitCode);
    else
      LogObject()->LogWarn("MapServerLauncher::SuperviseExits map %s: map server %u ended by itself (exit code %d)",
                           ended->GetMapData().GetKey().c_str(), child.ProcessId, child.ExitCode);
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
