// A manager's launching without a window, in a process of its own, for the restart test:
//
//   launch_peer <map data dir> <ready file>
//
// loads the map list of <map data dir>, presses "Start" and starts all map servers, writes
// <ready file> once every map is "Running", then waits to be killed.
#include <fstream>
#include <string>

#include "LaunchTestSupport.h"
#include "components/LogComponent.h"
#include "interfaces/SilentLog.h"
#include "support/TestSupport.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  SilentLog log;
  SetLogObjectForTesting(&log);
  if (!LoadGameDataComponent("Pellwyn.dll")) return 3;

  MemoryConfig config;
  TestWindow window;
  platform::ScriptedDialogs dialogs;
  platform::SetDialogs(&dialogs);
  MapServerLauncher::Settings settings;
  settings.Config = &config;
  settings.Window = &window;
  settings.MapDataDir = argv[1];
  settings.Arguments = {"-autolaunch"};
  MapServerLauncher launcher(settings);
  launcher.StartService();

  MapServerInfoManager& maps = GetMapServerInfoManager();
  const bool running = WaitUntil(
      [&] {
        for (int i = 0; i < maps.GetMapInfoCount(); ++i)
          if (record::State(*maps.GetMapInfo(i)->GetShareData()) != msRunning) return false;
        return maps.GetMapInfoCount() > 0;
      },
      20000);
  if (!running) return 4;
  std::ofstream(argv[2]) << "ready\n";
  for (;;) platform::SleepMs(1000);
}
