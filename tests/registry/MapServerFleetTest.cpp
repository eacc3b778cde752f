// Fifty real map server processes on one map list: all come up, are read correctly through
// the map list, and all end on CloseRequest.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "components/GameDataComponent.h"
#include "platform/message_bus.h"
#include "registry/MapServerInfoManager.h"
#include "registry/MapServerState.h"
#include "registry/RecordText.h"
#include "support/TestSupport.h"

namespace {

constexpr int kMapServers = 50;

// Kills whatever map server is still alive when the test ends early, so none outlives it.
struct Reaper {
  MapServerInfoManager& manager;
  ~Reaper() {
    for (int i = 0; i < manager.GetMapInfoCount(); ++i) {
      int handle = manager.GetMapInfo(i)->GetProcessInfo().ProcessHandle;
      if (handle != 0 && platform::TerminateProcess(handle, -1)) platform::WaitForProcess(handle, 5000, nullptr);
    }
  }
};

TEST(MapServerFleetTest, FiftyMapServersRunAndCloseThroughTheirRecords) {
  TempDir dir;
  setenv("VEMO_LOG_DIR", dir.Path().c_str(), 1);
  setenv("VEMO_MS_PHASE_MS", "0", 1);  // straight to "Running": the phases are not looked at here
  ASSERT_TRUE(LoadGameDataComponent("Pellwyn.dll"));
  std::string server = UniqueName("Fleet");
  std::string list;
  for (int id = 1; id <= kMapServers; ++id)
    list += std::to_string(id) + " " + server + " Fleet" + std::to_string(id) + " " + std::to_string(id % 3) +
            " 1 500 0 0 1\n";
  std::string path = dir.Write("MapID.txt", list);

  MapServerInfoManager manager;
  ASSERT_TRUE(manager.LoadMapList(0, path, false));
  ASSERT_EQ(manager.GetMapInfoCount(), kMapServers);
  Reaper reaper{manager};

  // Launch as the manager does one by one: clear the record, start, note the process.
  const std::string exe = std::string(VEMO_BIN_DIR) + "MapServerData/VemoMapServer";
  for (int i = 0; i < kMapServers; ++i) {
    MapServerInfo* info = manager.GetMapInfo(i);
    tagMapServerData* record = info->GetShareData();
    ASSERT_NE(record, nullptr);
    std::memset(record, 0, sizeof *record);
    record->ServerVersion = 7;
    std::string commandLine = exe + " " + info->GetMapData().GetKey() + " 7 0 " + dir.Path() + " MapManager";
    platform::ProcessInformation process;
    int errorCode = 0;
    ASSERT_TRUE(platform::StartProcess(commandLine, VEMO_BIN_DIR, false, &process, &errorCode)) << errorCode;
    info->SetProcessInfo(process);
    record->ProcessId = process.ProcessId;
    record->MainThreadId = process.ThreadId;
  }

  bool allRunning = WaitUntil(
      [&] {
        for (int i = 0; i < kMapServers; ++i)
          if (manager.GetMapInfo(i)->GetShareData()->State != msRunning) return false;
        return true;
      },
      90000);
  ASSERT_TRUE(allRunning);

  for (int i = 0; i < kMapServers; ++i) {
    MapServerInfo* info = manager.GetMapInfo(i);
    const tagMapServerData* record = info->GetShareData();
    SCOPED_TRACE(info->GetMapData().GetKey());
    EXPECT_STREQ(MapServerStateText(record->State), "Running");
    EXPECT_EQ(record->ProcessId, info->GetProcessInfo().ProcessId);
    EXPECT_TRUE(platform::IsProcessAlive(record->ProcessId));
    EXPECT_NE(info->GetMapWindow(), 0u);
    EXPECT_EQ(platform::GetWindowProcessId(info->GetMapWindow()), record->ProcessId);
    EXPECT_GE(record->MaxPlayerCnt, 400);
    EXPECT_LE(record->MaxPlayerCnt, 1000);
    EXPECT_GE(record->PlayerCnt, 0);
    EXPECT_NE(RecordText(record->MsgText).find(info->GetMapData().GetKey()), std::string::npos);
    info->SampleMemory();
    EXPECT_GT(info->GetMemoryCounters().WorkingSetSize, 0u);
  }
  // Display order: sort key (id % 3), then map id.
  EXPECT_EQ(manager.GetMapInfo(0)->GetMapData().GetMapID(), 3);
  EXPECT_EQ(manager.GetMapInfo(kMapServers - 1)->GetMapData().GetMapID(), 50);

  for (int i = 0; i < kMapServers; ++i) manager.GetMapInfo(i)->GetShareData()->CloseRequest = 1;
  for (int i = 0; i < kMapServers; ++i) {
    MapServerInfo* info = manager.GetMapInfo(i);
    int exitCode = -1;
    EXPECT_TRUE(platform::WaitForProcess(info->GetProcessInfo().ProcessHandle, 60000, &exitCode))
        << info->GetMapData().GetKey();
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(info->GetShareData()->State, msNotExist);
    EXPECT_FALSE(platform::IsProcessAlive(info->GetProcessInfo().ProcessId));
  }
  manager.Clear();
  UnloadGameDataComponent();
}

}  // namespace
