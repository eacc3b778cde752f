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
  const std::string& key = info.GetMapData().GetKey();

  // The process this run launched (or adopted) for the map: its handle is the truth,
  // whatever the record says by now.
  const platform::ProcessInformation own = info.GetProcessInfo();
  if (own.ProcessHandle != 0) {
    if (platform::IsProcessHandleRunning(own.ProcessHandle)) {
      if (pid != own.ProcessId) {
        if (info.NoteContradictingProcessId(pid))
          LogObject()->LogWarn(
              "MapServerProcesses::IsAlive map %s: the record's ProcessId %u is not its map server "
              "%u; the record is repaired and the map server stays supervised",
              key.c_str(), pid, own.ProcessId);
        record::SetProcessId(*data, own.ProcessId);
      }
      return true;
    }
    platform::IsProcessAlive(own.ProcessId);  // reaps our child through its handle
    int status = 0;
    if (platform::WaitForProcess(own.ProcessHandle, 0, &status)) NoteExitStatus(info.GetMapData().GetMapID(), status);
    if (pid == own.ProcessId) return false;
  }
  if (pid == 0) return false;

  std::string why;
  bool unsupervised = false;
  const int handle = OpenMapServer(info, pid, "IsAlive", &why, &unsupervised);
  if (unsupervised) return true;
  if (handle == 0) {
    if (info.NoteRefusedProcessId(pid))
      LogObject()->LogWarn(
          "MapServerProcesses::IsAlive map %s: ProcessId %u is not a map server of this machine "
          "(%s); the map counts as not running and the process is never signalled",
          key.c_str(), pid, why.c_str());
    return false;
  }
  if (info.AdoptProcess(platform::ProcessHandle(handle), pid) == handle)
    LogObject()->LogInfo(
        "MapServerProcesses::IsAlive map %s: map server %u, started before this manager run, "
        "is supervised again",
        key.c_str(), pid);
  return true;
}

int MapServerProcesses::OpenMapServer(MapServerInfo& info, uint32_t pid, const char* caller, std::string* why,
                                      bool* unsupervised) const {
  const std::string& key = info.GetMapData().GetKey();
  const int handle = platform::OpenProgramProcess(pid, m_Programs, key, why, unsupervised);
  if (*unsupervised && info.NoteUnsupervisedProcessId(pid))
    LogObject()->LogError(
        "MapServerProcesses::%s map %s: map server %u runs but cannot be supervised (%s); "
        "it counts as running and no second map server is started for the map",
        caller, key.c_str(), pid, why->c_str());
  return handle;
}

MapServerProcesses::KeyIndex MapServerProcesses::FindRunningByKey() const {
  KeyIndex index;
  for (const platform::ProgramProcess& process : platform::FindProgramProcesses(m_Programs))
    for (const std::string& argument : process.Arguments) index[argument].push_back(process.ProcessId);
  return index;
}

bool MapServerProcesses::AdoptByKey(MapServerInfo& info, const KeyIndex& index) const {
  const std::string& key = info.GetMapData().GetKey();
  const auto found = index.find(key);
  if (found == index.end()) return false;
  for (const uint32_t pid : found->second) {
    std::string why;
    bool unsupervised = false;
    const int handle = OpenMapServer(info, pid, "AdoptByKey", &why, &unsupervised);
    if (unsupervised) return true;
    if (handle == 0) continue;  // ended meanwhile
    info.AdoptProcess(platform::ProcessHandle(handle), pid);
    if (tagMapServerData* data = info.GetShareData()) record::SetProcessId(*data, pid);
    LogObject()->LogWarn(
        "MapServerProcesses::AdoptByKey map %s: map server %u, which its record did not name, was found "
        "by the map's key; the record is repaired and the map server is supervised again",
        key.c_str(), pid);
    return true;
  }
  return false;
}

bool MapServerProcesses::KillProcess(MapServerInfo& info) const {
  if (!IsAlive(info)) return false;
  const int handle = info.GetProcessInfo().ProcessHandle;
  if (handle == 0 || !platform::IsProcessHandleRunning(handle)) {
    LogObject()->LogError(
        "MapServerProcesses::KillProcess map %s: its map server cannot be supervised, so it is not "
        "killed",
        info.GetMapData().GetKey().c_str());
    return false;
  }
  return KillProcess(handle);
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
