// Helpers of the command and launch-control tests: real map servers launched as the manager
// launches them, and reaped at the end.
#pragma once

#include <stdlib.h>

#include <string>

#include "components/GameDataComponent.h"
#include "launch/MapServerLauncher.h"
#include "platform/process.h"
#include "registry/MapServerInfoManager.h"
#include "registry/MapServerState.h"
#include "registry/RecordAccess.h"
#include "support/LaunchFakes.h"
#include "support/MapServerCensus.h"
#include "support/TestSupport.h"

// Map server program of the runnable tree.
inline std::string MapServerDataDir() { return std::string(VEMO_BIN_DIR) + "MapServerData/"; }

// Starts the real map server of `info` as the launcher does, with its record cleared, and
// notes the process in the map; the server reaches "Running" at once.
inline bool LaunchMapServer(MapServerInfo& info, const std::string& extraEnv = "") {
  tagMapServerData* data = info.GetShareData();
  if (data == nullptr) return false;
  record::Zero(*data);
  setenv("VEMO_MS_PHASE_MS", "0", 1);
  if (!extraEnv.empty()) setenv("VEMO_MS_FAULTS", extraEnv.c_str(), 1);
  const std::string commandLine = MapServerDataDir() + "VemoMapServer " + info.GetMapData().GetKey() + " 1 0 " +
                                  MapServerDataDir() + "Script/ MapManager";
  platform::ProcessInformation process;
  int errorCode = 0;
  const bool started = platform::StartProcess(commandLine, MapServerDataDir(), false, &process, &errorCode);
  unsetenv("VEMO_MS_FAULTS");
  if (!started) return false;
  info.SetProcessInfo(process);
  record::SetProcessId(*data, process.ProcessId);
  return WaitUntil([&] { return record::State(*data) == msRunning; });
}

// Waits until a map server launched with the "hang" fault has hung.
inline bool WaitUntilHung(MapServerInfo& info) {
  return WaitUntilMapServerHung(MapServerDataDir(), info.GetMapData().GetKey(), info.GetProcessInfo().ProcessId);
}

// Kills every map server a test left running.
struct MapServerReaper {
  MapServerInfoManager& maps;
  ~MapServerReaper() {
    for (int i = 0; i < maps.GetMapInfoCount(); ++i) {
      const int handle = maps.GetMapInfo(i)->GetProcessInfo().ProcessHandle;
      if (handle != 0 && platform::TerminateProcess(handle, -1)) platform::WaitForProcess(handle, 5000, nullptr);
    }
  }
};
