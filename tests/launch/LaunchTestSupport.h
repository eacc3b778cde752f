// A machine for the launching tests: a map data directory of its own with copies of the
// map server programs and a map list, the in-memory configuration and window of
// support/LaunchFakes.h, and a launcher over a map list of the test's own. Map servers are real
// processes; the test kills whatever still runs when it ends.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/Utils.h"
#include "components/GameDataComponent.h"
#include "interfaces/IConfig.h"
#include "launch/MapServerLauncher.h"
#include "platform/dialogs.h"
#include "registry/MapServerInfoManager.h"
#include "registry/RecordAccess.h"
#include "runtime/ThreadManager.h"
#include "support/LaunchFakes.h"
#include "support/MapServerCensus.h"
#include "support/RecordingLog.h"
#include "support/TestSupport.h"

// What "Start" hands to the status link, recorded.
class TestHooks : public IServiceHooks {
 public:
  bool IsNetCoreLoaded() override { return netCoreLoaded; }
  void SetLineId(int id) override { lineId = id; }
  int GetLineId() override { return lineId; }
  bool netCoreLoaded = false;
  int lineId = 0;
};

// What a suite of launching tests sets once: a log directory of its own, map servers that
// reach "Running" at once, and the system tables' component loaded.
inline void SetUpLaunchSuite() {
  static TempDir logDir("vemo-launch-log");
  setenv("VEMO_LOG_DIR", logDir.Path().c_str(), 1);
  setenv("VEMO_MS_PHASE_MS", "0", 1);
  ASSERT_TRUE(LoadGameDataComponent("Pellwyn.dll"));
}

// One machine: map data directory, programs, map list, configuration and launcher.
class LaunchMachine {
 public:
  explicit LaunchMachine(const std::string& stem) : m_Server(UniqueName(stem)) {
    namespace fs = std::filesystem;
    mapDataDir = m_Dir.Path() + "MapServerData/";
    fs::create_directories(mapDataDir + "Map");
    fs::create_directories(mapDataDir + "MapServerConfig");
    // Copies, not links: a map server writes its log beside the file it runs from.
    for (const char* program : {"VemoMapServer", "VemoMapServerDM"})
      fs::copy_file(std::string(VEMO_BIN_DIR) + "MapServerData/" + program, mapDataDir + program);
    config.DefaultBool("cbOpenInCMDLine", true);
    config.DefaultString("edtScriptPath", (mapDataDir + "Script/").c_str());
    config.DefaultString("edt_ip", "127.0.0.1");
    config.DefaultInt("edt_port", 19001);
    platform::SetDialogs(&dialogs);
  }
  ~LaunchMachine() {
    EndManagerLeavingMapServers();
    KillMapServers();
    platform::SetDialogs(nullptr);
  }

  // Writes the map list: one map a line as (map id, map manager number).
  void WriteMaps(const std::vector<std::pair<int, int>>& maps) {
    std::string text;
    for (const auto& [id, managerNum] : maps)
      text += std::to_string(id) + "\t" + m_Server + "\t\"Map " + std::to_string(id) + "\"\t" + std::to_string(id) +
              "\t1\t500\t0\t3\t" + std::to_string(managerNum) + "\n";
    m_Dir.Write("MapServerData/Map/MapID.txt", text);
  }

  MapServerLauncher& Launcher(std::vector<std::string> arguments = {}) {
    if (!launcher) {
      MapServerLauncher::Settings settings;
      settings.Config = &config;
      settings.Window = &window;
      settings.Hooks = &hooks;
      settings.Maps = &maps;
      settings.Threads = &threads;
      settings.MapDataDir = mapDataDir;
      settings.Arguments = std::move(arguments);
      launcher = std::make_unique<MapServerLauncher>(settings);
    }
    return *launcher;
  }

  // "Start", then a start pass of every map under way, as "StartAll" leaves it.
  MapServerLauncher& StartAll() {
    MapServerLauncher& started = Launcher();
    started.StartService();
    started.StartAllServers(false);
    return started;
  }
  // The manager ends without stopping its map servers, as a killed manager would: its
  // workers stop, its map servers and their records stay.
  void EndManagerLeavingMapServers() {
    launcher.reset();  // stops the workers first
    threads.StopAll();
  }

  tagMapServerData& Record(int position) { return *maps.GetMapInfo(position)->GetShareData(); }
  uint32_t Pid(int position) { return record::ProcessId(Record(position)); }
  bool WaitForState(int position, int state, int timeoutMs = 10000) {
    return WaitUntil([&] { return record::State(Record(position)) == state; }, timeoutMs);
  }
  bool WaitAllRunning(int timeoutMs = 15000) {
    for (int i = 0; i < maps.GetMapInfoCount(); ++i)
      if (!WaitForState(i, msRunning, timeoutMs)) return false;
    return true;
  }
  // The log of the map server that served `position` in process `pid`.
  std::string MapServerLog(int position, uint32_t pid) {
    return ReadFile(mapDataDir + "Log/" + maps.GetMapInfo(position)->GetMapData().GetKey() + "_" + std::to_string(pid) +
                    ".log");
  }

  // Waits until the map server at `position`, started with the "hang" fault, has hung.
  bool WaitUntilHung(int position) {
    return WaitUntilMapServerHung(mapDataDir, maps.GetMapInfo(position)->GetMapData().GetKey(), Pid(position));
  }

  void KillMapServers() {
    for (int i = 0; i < maps.GetMapInfoCount(); ++i) {
      const int handle = maps.GetMapInfo(i)->GetProcessInfo().ProcessHandle;
      if (handle != 0 && platform::TerminateProcess(handle, -1)) platform::WaitForProcess(handle, 5000, nullptr);
    }
    for (const int handle : extraHandles)
      if (platform::TerminateProcess(handle, -1)) platform::WaitForProcess(handle, 5000, nullptr);
  }

  const std::string& Server() const { return m_Server; }
  const std::string& Dir() const { return m_Dir.Path(); }

  TempDir m_Dir;
  std::string mapDataDir;
  MemoryConfig config;
  TestWindow window;
  TestHooks hooks;
  platform::ScriptedDialogs dialogs;
  MapServerInfoManager maps{1};
  ThreadManager threads;
  std::unique_ptr<MapServerLauncher> launcher;
  std::vector<int> extraHandles;  // processes a test started besides map servers

 private:
  std::string m_Server;
};
