// A manager ended with SIGKILL in the middle of a run leaves its map servers running; the
// next manager supervises them as before: it never launches them a second time, and it
// closes and kills them through handles it checked.
#include <gtest/gtest.h>
#include <signal.h>

#include "LaunchTestSupport.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace {

TEST(LaunchRestartTest, MapServersOfAKilledManagerAreSupervisedByTheNextOne) {
  static TempDir logDir;
  setenv("VEMO_LOG_DIR", logDir.Path().c_str(), 1);
  setenv("VEMO_MS_PHASE_MS", "0", 1);
  RecordingLog log;
  ASSERT_TRUE(LoadGameDataComponent("Pellwyn.dll"));

  LaunchMachine machine("LaunchRestart");
  machine.WriteMaps({{1, 1}, {2, 1}, {3, 1}});
  const std::string ready = machine.Dir() + "ready";
  platform::ProcessInformation peer;
  int error = 0;
  ASSERT_TRUE(platform::StartProcess(std::string(LAUNCH_PEER) + " " + machine.mapDataDir + " " + ready, "", false,
                                     &peer, &error));
  ASSERT_TRUE(WaitUntil([&] { return platform::FileExists(ready); }, 30000));
  ASSERT_TRUE(platform::TerminateProcess(peer.ProcessHandle, -1));  // SIGKILL, mid-run
  platform::WaitForProcess(peer.ProcessHandle, 5000, nullptr);
  platform::CloseProcessHandles(peer);

  MapServerLauncher& launcher = machine.Launcher();
  launcher.StartService();  // loads the map list: the records hold the old run's map servers
  std::vector<uint32_t> pids;
  for (int i = 0; i < 3; ++i) {
    pids.push_back(machine.Pid(i));
    EXPECT_TRUE(launcher.IsMapServerAlive(*machine.maps.GetMapInfo(i))) << i;
  }
  const uint32_t passes = launcher.GetStartPassCount();
  launcher.StartAllServers(false);
  ASSERT_TRUE(WaitUntil([&] { return launcher.GetStartPassCount() > passes; }));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(machine.Pid(i), pids[i]) << "map " << i << " was launched a second time";

  machine.dialogs.answers = {true};
  launcher.KillAllServers();
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(WaitUntil([&] { return !platform::IsProcessAlive(pids[i]); })) << i;
    EXPECT_FALSE(launcher.IsMapServerAlive(*machine.maps.GetMapInfo(i)));
  }
  UnloadGameDataComponent();
}

}  // namespace
