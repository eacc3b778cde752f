// Launching and supervision against real map server processes: starting all maps, the
// reconnect check, closing one map, the heartbeat rule, single-server mode, the command
// lines, and the untrusted process id of a record.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "LaunchTestSupport.h"
#include "platform/message_bus.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "registry/MapServerState.h"

namespace {

// What a map server logs once for each message 1027 it receives.
const std::string kAnnounced = "the start of all maps is announced";

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

class LaunchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { SetUpLaunchSuite(); }
  static void TearDownTestSuite() { UnloadGameDataComponent(); }
  void TearDown() override { unsetenv("VEMO_MS_FAULTS"); }

  // Waits until the start worker has ended one more pass than `before`.
  static bool WaitForPass(MapServerLauncher& launcher, uint32_t before) {
    return WaitUntil([&] { return launcher.GetStartPassCount() > before; });
  }

  RecordingLog m_Log;
};

TEST_F(LaunchTest, StartAllTwiceStartsOnlyDeadMapsAndAnnouncesEachLaunchOnce) {
  LaunchMachine machine("LaunchTwice");
  machine.WriteMaps({{1, 1}, {2, 1}, {3, 1}});
  MapServerLauncher& launcher = machine.Launcher();

  launcher.StartService();
  EXPECT_FALSE(machine.window.startEnabled);
  EXPECT_EQ(machine.window.caption, "MapServerManager");
  EXPECT_EQ(machine.window.serverVersionText, "Server Version : 0");
  EXPECT_EQ(machine.window.mapCount, 3);

  machine.dialogs.answers = {true};
  launcher.StartAllClick();
  EXPECT_EQ(machine.dialogs.records.at(0).text, "StartAll?");
  EXPECT_EQ(machine.dialogs.records.at(0).caption, "Start Ask");
  EXPECT_EQ(machine.config.values["cbOpenInCMDLine"], "1");
  ASSERT_TRUE(machine.WaitAllRunning());

  std::vector<uint32_t> first;
  for (int i = 0; i < 3; ++i) {
    first.push_back(machine.Pid(i));
    // The launch went to the program chosen by "StartInCmdLine", in the map data directory.
    EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(first[i]) + "/exe").filename(), "VemoMapServer");
    ASSERT_TRUE(WaitUntil([&] { return Count(machine.MapServerLog(i, first[i]), kAnnounced) == 1; }))
        << machine.MapServerLog(i, first[i]);
  }

  ASSERT_TRUE(launcher.KillProcess(*machine.maps.GetMapInfo(1)));
  EXPECT_FALSE(launcher.IsMapServerAlive(*machine.maps.GetMapInfo(1)));

  const uint32_t passes = launcher.GetStartPassCount();
  launcher.StartAllServers(false);
  ASSERT_TRUE(WaitForPass(launcher, passes));
  ASSERT_TRUE(machine.WaitAllRunning());
  EXPECT_EQ(machine.Pid(0), first[0]);
  EXPECT_NE(machine.Pid(1), first[1]);
  EXPECT_EQ(machine.Pid(2), first[2]);
  ASSERT_TRUE(WaitUntil([&] { return Count(machine.MapServerLog(1, machine.Pid(1)), kAnnounced) == 1; }));
  // The running map servers were left alone: no second message.
  EXPECT_EQ(Count(machine.MapServerLog(0, first[0]), kAnnounced), 1u);
  EXPECT_EQ(Count(machine.MapServerLog(2, first[2]), kAnnounced), 1u);
}

TEST_F(LaunchTest, ReconnectCheckRestartsADisconnectedMapUnlessAutoRestartIsForbidden) {
  LaunchMachine machine("LaunchReconnect");
  setenv("VEMO_MS_FAULTS", (machine.Server() + "_2:state6@0").c_str(), 1);
  machine.WriteMaps({{1, 1}, {2, 1}});
  MapServerLauncher& launcher = machine.StartAll();
  ASSERT_TRUE(machine.WaitForState(0, msRunning));
  ASSERT_TRUE(machine.WaitForState(1, msDisconnected));
  const uint32_t healthy = machine.Pid(0), disconnected = machine.Pid(1);
  const std::string restartLine = "TVemoMapServerManagerMain::ProcessDisconnectCheck Restart Map index = 1";

  machine.config.SetBool("cbForbiddenAutoRestart", true);
  launcher.ProcessDisconnectCheck();
  EXPECT_EQ(machine.Pid(1), disconnected);
  EXPECT_FALSE(m_Log.Contains(restartLine));

  machine.config.SetBool("cbForbiddenAutoRestart", false);
  launcher.ProcessDisconnectCheck();
  EXPECT_EQ(m_Log.Texts(llDebug), std::vector<std::string>{restartLine});
  // Closed through its record (the backup script, then the request), then launched again.
  EXPECT_NE(Count(machine.MapServerLog(1, disconnected), "CloseRequest: saving and closing"), 0u);
  EXPECT_FALSE(platform::IsProcessAlive(disconnected));
  EXPECT_NE(machine.Pid(1), 0u);
  EXPECT_NE(machine.Pid(1), disconnected);
  EXPECT_TRUE(launcher.IsMapServerAlive(*machine.maps.GetMapInfo(1)));
  EXPECT_EQ(machine.Pid(0), healthy);
  EXPECT_TRUE(machine.dialogs.records.empty());  // the check never asks
}

TEST_F(LaunchTest, CloseOneServerKillsAServerThatIgnoresTheRequestAndNeverLaunchesTheMapTwice) {
  LaunchMachine machine("LaunchClose");
  setenv("VEMO_MS_FAULTS", "*:ignoreclose", 1);
  machine.WriteMaps({{1, 1}, {2, 1}});
  MapServerLauncher& launcher = machine.StartAll();
  ASSERT_TRUE(machine.WaitAllRunning());
  const uint32_t pid = machine.Pid(0);

  // The 60 seconds pass on a clock of the test's own, 5 s per turn of the message loop;
  // meanwhile the operator asks again, and a start of all maps runs.
  FakeClock clock;
  clock.now = 1000;
  bool secondClose = true;
  uint32_t passes = 0;
  machine.window.onProcessMessages = [&] {
    if (machine.window.messagesProcessed == 1) {
      secondClose = launcher.CloseOneServer(0, false);
      launcher.StartOneServer(0, false);
      passes = launcher.GetStartPassCount();
      launcher.StartAllServers(false);
      ASSERT_TRUE(WaitForPass(launcher, passes));
    }
    clock.now += 5000;
  };
  machine.dialogs.answers = {true};
  EXPECT_TRUE(launcher.CloseOneServer(0, true));
  EXPECT_EQ(machine.dialogs.records.at(0).text, "CloseThis(Map 1)?");
  EXPECT_EQ(machine.dialogs.records.at(0).caption, "CloseAsk");
  EXPECT_FALSE(secondClose);
  EXPECT_GE(machine.window.messagesProcessed, 12);

  // The map server took the backup script (and cleared it) and ignored the request.
  EXPECT_NE(machine.MapServerLog(0, pid).find("Tessmark.RunCMD('SavePlayerBackupFile')"), std::string::npos);
  EXPECT_EQ(record::CloseRequest(machine.Record(0)), 1);
  EXPECT_EQ(machine.Pid(0), 0u);  // killed, and nobody launched it meanwhile
  EXPECT_FALSE(platform::IsProcessAlive(pid));

  // Closing the window ends a wait at once; the map server is left to itself, not killed.
  const uint32_t other = machine.Pid(1);
  machine.window.onProcessMessages = [&] { machine.window.closing = true; };
  machine.dialogs.answers = {true};
  EXPECT_FALSE(launcher.CloseOneServer(1, true));
  EXPECT_TRUE(platform::IsProcessAlive(other));
  EXPECT_EQ(machine.Pid(1), other);
}

TEST_F(LaunchTest, HeartbeatRuleLowersResetsAndDeclaresAStoppedServerGoneOnTheEleventhTick) {
  LaunchMachine machine("LaunchBeat");
  machine.WriteMaps({{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}});
  ASSERT_TRUE(machine.maps.LoadMapList(0, machine.mapDataDir + "Map/MapID.txt", false));
  MapServerLauncher& launcher = machine.Launcher();

  const int32_t before[] = {-10, -11, 1, 0, 5, INT_MIN, 0};
  for (int i = 0; i < 7; ++i) {
    record::Store(machine.Record(i).HeartBeat, before[i]);
    record::SetState(machine.Record(i), msRunning);
  }
  launcher.ApplyHeartbeatRule();
  const int32_t beat[] = {0, 0, 0, -1, 4, 0, -1};
  const int32_t state[] = {msNotExist, msNotExist, msRunning, msRunning, msRunning, msNotExist, msRunning};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(record::HeartBeat(machine.Record(i)), beat[i]) << "map " << i;
    EXPECT_EQ(record::State(machine.Record(i)), state[i]) << "map " << i;
  }

  // The last map's server stopped with its counter at 0: -1 after the first tick above,
  // -10 after the tenth, gone on the eleventh.
  for (int tick = 2; tick <= 10; ++tick) launcher.ApplyHeartbeatRule();
  EXPECT_EQ(record::HeartBeat(machine.Record(6)), -10);
  EXPECT_EQ(record::State(machine.Record(6)), msRunning);
  launcher.ApplyHeartbeatRule();
  EXPECT_EQ(record::State(machine.Record(6)), msNotExist);
  EXPECT_STREQ(MapServerStateText(record::State(machine.Record(6))), "Not Exist!");
}

TEST_F(LaunchTest, SingleServerModeRunsOneProcessPerMapManagerNumberOnce) {
  LaunchMachine machine("LaunchMini");
  machine.WriteMaps({{1, 1}, {2, 1}, {3, 2}});
  machine.config.SetBool("cbSingleServerMode", true);
  MapServerLauncher& launcher = machine.Launcher();
  launcher.StartService();

  launcher.StartAllClick();  // single-server mode: no question, "Mini Open All"
  EXPECT_TRUE(machine.dialogs.records.empty());
  EXPECT_EQ(machine.config.values["cbForbiddenAutoRestart"], "1");
  ASSERT_EQ(launcher.SingleServerCount(), 2);
  EXPECT_EQ(launcher.GetSingleServer(0)->MapList, machine.Server() + "_1 " + machine.Server() + "_2 ");
  EXPECT_EQ(launcher.GetSingleServer(1)->MapList, machine.Server() + "_3 ");
  ASSERT_TRUE(machine.WaitAllRunning());
  // Each process serves its number's maps and writes its own id into their records.
  EXPECT_EQ(machine.Pid(0), launcher.GetSingleServer(0)->ProcessInfo.ProcessId);
  EXPECT_EQ(machine.Pid(1), launcher.GetSingleServer(0)->ProcessInfo.ProcessId);
  EXPECT_EQ(machine.Pid(2), launcher.GetSingleServer(1)->ProcessInfo.ProcessId);

  const uint32_t firstProcess = launcher.GetSingleServer(0)->ProcessInfo.ProcessId;
  launcher.MiniOpenAll();  // launched already: nothing
  EXPECT_EQ(launcher.SingleServerCount(), 2);
  EXPECT_EQ(launcher.GetSingleServer(0)->ProcessInfo.ProcessId, firstProcess);

  launcher.MiniCloseAll();
  EXPECT_EQ(launcher.SingleServerCount(), 0);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(launcher.IsMapServerAlive(*machine.maps.GetMapInfo(i))) << i;
  EXPECT_EQ(machine.config.values["cbForbiddenAutoRestart"], "1");
}

TEST_F(LaunchTest, CommandLinesStartAllWithoutAskingAndAutostartNotifiesTheController) {
  const std::string controllerClass = "LaunchTestController", title = UniqueName("controller");
  std::vector<uint32_t> received;
  auto controller = platform::BusEndpoint::Open(
      controllerClass, title, [&](const platform::BusMessage& message) { received.push_back(message.Msg); });
  ASSERT_NE(controller, nullptr);
  {
    LaunchMachine machine("LaunchAuto");
    machine.WriteMaps({{1, 1}});
    MapServerLauncher& launcher = machine.Launcher({"AUTOSTART", controllerClass, title});
    launcher.StartService();
    ASSERT_TRUE(WaitUntil([&] {
      controller->Pump(10);
      return !received.empty();
    }));
    EXPECT_EQ(received, std::vector<uint32_t>{0x8003});
    EXPECT_EQ(launcher.ControllerClass(), controllerClass);
    EXPECT_TRUE(launcher.StartAllRequested());
    EXPECT_TRUE(machine.WaitAllRunning());
    EXPECT_TRUE(machine.dialogs.records.empty());
  }
  {
    LaunchMachine machine("LaunchAutolaunch");
    machine.WriteMaps({{1, 1}});
    machine.Launcher({"extra", "-AutoLaunch"}).StartService();
    EXPECT_TRUE(machine.WaitAllRunning());
    EXPECT_TRUE(machine.dialogs.records.empty());
  }
}

TEST_F(LaunchTest, AServerThatCrashesOverAndOverIsRestartedAtItsBackOffAndWithinTheRateCap) {
  LaunchMachine machine("LaunchCrashLoop");
  setenv("VEMO_MS_FAULTS", "*:crash@0", 1);
  machine.WriteMaps({{1, 1}});
  machine.config.SetInt("RestartsPerMinute", 3);
  FakeClock clock;
  clock.now = 5000;
  MapServerLauncher& launcher = machine.StartAll();
  MapServerInfo& info = *machine.maps.GetMapInfo(0);
  auto crashed = [&] {
    return WaitUntil([&] {
      const int handle = info.GetProcessInfo().ProcessHandle;
      return handle != 0 && !platform::IsProcessHandleRunning(handle);
    });
  };
  ASSERT_TRUE(crashed());

  // Off: nothing restarts, however long it waits.
  for (int i = 0; i < 10; ++i, clock.now += 60000) launcher.SuperviseExits();
  EXPECT_EQ(launcher.Restarts().RestartCount(1, ExitedMapRestarts::rrExited), 0u);

  machine.config.SetBool("RestartExitedMaps", true);
  std::vector<uint32_t> exits, restarts;
  const uint32_t limit = clock.now + 200000;
  while (restarts.size() < 4 && clock.now < limit) {
    ASSERT_TRUE(crashed());
    if (exits.size() == restarts.size()) exits.push_back(clock.now);  // noted by this check
    launcher.SuperviseExits();
    if (launcher.Restarts().RestartCount(1, ExitedMapRestarts::rrExited) > restarts.size())
      restarts.push_back(clock.now);
    else
      clock.now += 250;
  }
  ASSERT_EQ(restarts.size(), 4u);
  EXPECT_EQ(restarts[0] - exits[0], 1000u);
  EXPECT_EQ(restarts[1] - exits[1], 2000u);
  EXPECT_EQ(restarts[2] - exits[2], 4000u);
  // The fourth was due 8 s after its crash but waited until the first restart left the minute.
  EXPECT_GE(restarts[3] - exits[3], 8000u);
  EXPECT_GE(restarts[3] - restarts[0], 60000u);
  EXPECT_LT(restarts[3] - restarts[0], 60000u + 250u);
  std::size_t logged = 0;
  for (const auto& line : m_Log.Texts(llWarn)) logged += line.find("restarted (reason exited)") != std::string::npos;
  EXPECT_EQ(logged, 4u);

  // An end that was asked for is no crash: a kill by the operator is not restarted.
  ASSERT_TRUE(crashed());
  launcher.SuperviseExits();
  info.SetExitExpected(true);
  clock.now += 10 * 60000;
  launcher.SuperviseExits();
  EXPECT_EQ(launcher.Restarts().RestartCount(1, ExitedMapRestarts::rrExited), 4u);
}

// The line-information script is a shell script of the test, run as the manager runs it.
class LineInformationTest : public LaunchTest {
 protected:
  void WriteScript(LaunchMachine& machine, const std::string& body) {
    const std::string path = machine.mapDataDir + "MapServerConfig/Sarvent.py";
    machine.m_Dir.Write("MapServerData/MapServerConfig/Sarvent.py", "#!/bin/sh\n" + body);
    chmod(path.c_str(), 0755);
    std::filesystem::create_directories(machine.mapDataDir + "MapServerConfig/SarventResult");
  }
  std::string ResultPath(LaunchMachine& machine) {
    return machine.mapDataDir + "MapServerConfig/SarventResult/Result.txt";
  }
};

TEST_F(LineInformationTest, ResultFileGivesTheVersionAndWithTheNetworkCoreTheLineNumber) {
  LaunchMachine machine("LineInfo");
  MapServerLauncher& launcher = machine.Launcher();
  EXPECT_EQ(launcher.RunLineInformationStep(), 0);  // no script

  // The script gets the address as two words, whatever the configuration holds.
  machine.config.SetString("edt_ip", "10.0.0.1; touch injected");
  machine.config.SetInt("edt_port", 4321);
  WriteScript(machine, "echo \"$#|$1|$2\" > args.txt\nprintf '42\\n' > SarventResult/Result.txt\n");
  EXPECT_EQ(launcher.RunLineInformationStep(), 42);
  EXPECT_EQ(ReadFile(machine.mapDataDir + "MapServerConfig/args.txt"), "2|10.0.0.1; touch injected|4321\n");
  EXPECT_FALSE(platform::FileExists(machine.mapDataDir + "MapServerConfig/injected"));

  // Two lines with the network core loaded: the line number goes to the status link.
  machine.hooks.netCoreLoaded = true;
  WriteScript(machine, "printf '17\\r\\n70\\r\\n' > SarventResult/Result.txt\n");
  EXPECT_EQ(launcher.RunLineInformationStep(), 17);
  EXPECT_EQ(machine.hooks.lineId, 70);
  EXPECT_TRUE(m_Log.Contains("Line ID = 70"));

  // A script that writes nothing: the result of the run before must not count.
  WriteScript(machine, "exit 3\n");
  EXPECT_EQ(launcher.RunLineInformationStep(), 0);
  EXPECT_FALSE(platform::FileExists(ResultPath(machine)));
}

TEST_F(LineInformationTest, ACompiledScriptRunsWithTheSystemsPythonInterpreter) {
  LaunchMachine machine("LineInfoPyc");
  const std::string configDir = machine.mapDataDir + "MapServerConfig/";
  std::filesystem::create_directories(configDir + "SarventResult");
  machine.m_Dir.Write("source.py",
                      "import sys\nopen('SarventResult/Result.txt', 'w').write('23\\n' + sys.argv[2] + '\\n')\n");
  int exitCode = -1;
  ASSERT_TRUE(
      platform::RunShellCommand("/usr/bin/python3 -c 'import py_compile, sys; py_compile.compile(sys.argv[1], "
                                "cfile=sys.argv[2], doraise=True)' source.py " +
                                    configDir + "Sarvent.pyc",
                                machine.Dir(), &exitCode));
  ASSERT_EQ(exitCode, 0);
  machine.config.SetInt("edt_port", 4321);
  machine.hooks.netCoreLoaded = true;
  EXPECT_EQ(machine.Launcher().RunLineInformationStep(), 23);
  EXPECT_EQ(machine.hooks.lineId, 4321);
}

TEST_F(LineInformationTest, OneLineWithTheNetworkCoreLoadedEndsTheProcess) {
  LaunchMachine machine("LineInfoEnd");
  machine.hooks.netCoreLoaded = true;
  WriteScript(machine, "printf '42\\n' > SarventResult/Result.txt\n");
  try {
    machine.Launcher().RunLineInformationStep();
    FAIL() << "the process should have ended";
  } catch (const ProcessEnded& ended) {
    EXPECT_EQ(ended.exitCode, 1);
  }
  ASSERT_EQ(machine.dialogs.records.size(), 1u);
  EXPECT_EQ(machine.dialogs.records[0].kind, "Message");
  EXPECT_EQ(machine.dialogs.records[0].text, "请求版本号或者分线ID失败");
}

TEST_F(LaunchTest, ARecordNamingAProcessThatIsNoMapServerIsNeitherAliveNorSignalled) {
  LaunchMachine machine("LaunchForeign");
  machine.WriteMaps({{1, 1}});
  MapServerLauncher& launcher = machine.Launcher();
  launcher.StartService();

  platform::ProcessInformation sleeper;
  int error = 0;
  ASSERT_TRUE(platform::StartProcess("/bin/sleep 60", "", false, &sleeper, &error));
  machine.extraHandles.push_back(sleeper.ProcessHandle);
  record::SetProcessId(machine.Record(0), sleeper.ProcessId);
  MapServerInfo& info = *machine.maps.GetMapInfo(0);

  EXPECT_FALSE(launcher.IsMapServerAlive(info));
  EXPECT_FALSE(launcher.KillProcess(info));
  machine.dialogs.answers = {true};
  EXPECT_TRUE(launcher.CloseOneServer(0, true));  // nothing to close: no question
  EXPECT_TRUE(machine.dialogs.records.empty());
  EXPECT_TRUE(platform::IsProcessHandleRunning(sleeper.ProcessHandle));
  const auto warnings = m_Log.Texts(llWarn);
  ASSERT_EQ(warnings.size(), 1u);  // once per map and process id
  EXPECT_NE(warnings[0].find("is not a map server"), std::string::npos);

  // The start of all maps launches a map server for it.
  launcher.StartAllServers(false);
  ASSERT_TRUE(machine.WaitForState(0, msRunning));
  EXPECT_NE(machine.Pid(0), sleeper.ProcessId);
  EXPECT_TRUE(launcher.IsMapServerAlive(info));
  EXPECT_TRUE(platform::IsProcessHandleRunning(sleeper.ProcessHandle));
}

}  // namespace
