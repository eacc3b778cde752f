#include "launch/MapServerProcesses.h"

#include "components/LogComponent.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "registry/MapServerInfo.h"
#include "registry/RecordAccess.h"

namespace {

// How long a kill waits for the end of the killed process: the next launch of the map must
// not meet the old server still holding its record.
constexpr int kKillWaitMs = 500;

}  // namespace

MapServerProcesses::MapServerProcesses(const std::string& mapDataDir)
    : m_Programs{mapDataDir + platform::LogicalFileName("VemoMapServer.exe"),
                 mapDataDir + platform::LogicalFileName("VemoMapServerDM.exe")} {}

bool MapServerProcesses::IsAlive(MapServerInfo& info) const {
  tagMapServerData* data = info.GetShareData();
  if (data == nullptr) return false;
  const uint32_t pid = record::ProcessId(*data);
  if (pid == 0) return false;

  // The process this run launched (or adopted) for the map.
  const platform::ProcessInformation own = info.GetProcessInfo();
  if (own.ProcessHandle != 0 && own.ProcessId == pid) {
    if (platform::IsProcessHandleRunning(own.ProcessHandle)) return true;
    platform::IsProcessAlive(pid);  // reaps our child through its handle
    int status = 0;
    if (platform::WaitForProcess(own.ProcessHandle, 0, &status)) NoteExitStatus(info.GetMapData().GetMapID(), status);
    return false;
  }

  std::string why;
  const int handle = platform::OpenProgramProcess(pid, m_Programs, &why);
  if (handle == 0) {
    if (info.NoteRefusedProcessId(pid))
      LogObject()->LogWarn("MapServerProcesses::IsAlive map %s: ProcessId %u is not a map server of this machine "
                           "(%s); the map counts as not running and the process is never signalled",
                           info.GetMapData().GetKey().c_str(), pid, why.c_str());
    return false;
  }
  if (info.AdoptProcess(handle, pid) == handle)
    LogObject()->LogInfo("MapServerProcesses::IsAlive map %s: map server %u, started before this manager run, "
                         "is supervised again",
                         info.GetMapData().GetKey().c_str(), pid);
  return true;
}

bool MapServerProcesses::KillProcess(MapServerInfo& info) const {
  if (!IsAlive(info)) return false;
  return KillProcess(info.GetProcessInfo().ProcessHandle);
}

bool MapServerProcesses::KillProcess(int handle) {
  if (handle == 0 || !platform::TerminateProcess(handle, -1)) return false;
  platform::WaitForProcess(handle, kKillWaitMs, nullptr);
  return true;
}

void MapServerProcesses::NoteExitStatus(int mapId, int status) const {
  std::lock_guard<std::mutex> lock(m_ExitMutex);
  m_ExitStatus[mapId] = status;
}

bool MapServerProcesses::LastExitStatus(int mapId, int* status) const {
  std::lock_guard<std::mutex> lock(m_ExitMutex);
  const auto found = m_ExitStatus.find(mapId);
  if (found == m_ExitStatus.end()) return false;
  *status = found->second;
  return true;
}
