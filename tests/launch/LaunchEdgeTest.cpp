// Supervision at its edges, against real map server processes: records whose ProcessId is
// rewritten under a running manager, a close whose record changes during its wait, a map
// server that dies without anyone asking about it, and the reconnect check's restart count.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <map>

#include "LaunchTestSupport.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "registry/MapServerState.h"
#include "support/MapServerCensus.h"

namespace {

std::map<std::string, std::vector<uint32_t>> MapServersByKey(const LaunchMachine& machine) {
  return ::MapServersByKey(machine.mapDataDir);
}

// A later manager over the same machine: new maps and a new launcher, as after a restart.
// It kills the map servers it holds when it goes.
struct LaterManager {
  static MapServerLauncher::Settings SettingsOf(LaunchMachine& machine, MapServerInfoManager& maps,
                                                ThreadManager& threads) {
    MapServerLauncher::Settings settings;
    settings.Config = &machine.config;
    settings.Window = &machine.window;
    settings.Maps = &maps;
    settings.Threads = &threads;
    settings.MapDataDir = machine.mapDataDir;
    return settings;
  }
  explicit LaterManager(LaunchMachine& machine) : launcher(SettingsOf(machine, maps, threads)) {
    launcher.StartService();
  }
  ~LaterManager() {
    threads.StopAll();
    for (int i = 0; i < maps.GetMapInfoCount(); ++i)
      if (const int handle = maps.GetMapInfo(i)->GetProcessInfo().ProcessHandle; handle != 0)
        platform::TerminateProcess(handle, -1);
  }
  MapServerInfoManager maps{1};
  ThreadManager threads;
  MapServerLauncher launcher;
};

class LaunchEdgeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { SetUpLaunchSuite(); }
  static void TearDownTestSuite() { UnloadGameDataComponent(); }
  void TearDown() override { unsetenv("VEMO_MS_FAULTS"); }

  static uint32_t StartSleeper(LaunchMachine& machine) {
    platform::ProcessInformation sleeper;
    int error = 0;
    EXPECT_TRUE(platform::StartProcess("/bin/sleep 60", "", false, &sleeper, &error));
    machine.extraHandles.push_back(sleeper.ProcessHandle);
    return sleeper.ProcessId;
  }
  static bool Gone(uint32_t pid) { return !std::filesystem::exists("/proc/" + std::to_string(pid)); }

  // True when some line of the log holds `part`.
  bool Logged(const std::string& part) const {
    for (const auto& line : m_Log.Lines())
      if (line.text.find(part) != std::string::npos) return true;
    return false;
  }

  RecordingLog m_Log;
};

TEST_F(LaunchEdgeTest, ARewrittenProcessIdNeitherAbandonsNorDoublesTheMapServersThisRunLaunched) {
  LaunchMachine machine("EdgeRewrite");
  machine.WriteMaps({{1, 1}, {2, 1}, {3, 1}});
  MapServerLauncher& launcher = machine.StartAll();
  ASSERT_TRUE(machine.WaitAllRunning());
  std::vector<uint32_t> servers;
  for (int i = 0; i < 3; ++i) servers.push_back(machine.Pid(i));

  // Another program of ours, pid 1, and a pid that names nothing any more.
  const uint32_t sleeper = StartSleeper(machine);
  platform::ProcessInformation ended;
  int error = 0;
  ASSERT_TRUE(platform::StartProcess("/bin/true", "", true, &ended, &error));
  platform::CloseProcessHandles(ended);
  const uint32_t written[3] = {sleeper, 1, ended.ProcessId};
  for (int i = 0; i < 3; ++i) record::SetProcessId(machine.Record(i), written[i]);

  // A start pass launches nothing: every map still has exactly its own map server, and
  // each record names it again.
  const uint32_t passes = launcher.GetStartPassCount();
  launcher.StartAllServers(false);
  ASSERT_TRUE(WaitUntil([&] { return launcher.GetStartPassCount() > passes; }));
  const auto byKey = MapServersByKey(machine);
  for (int i = 0; i < 3; ++i) {
    const std::string key = machine.maps.GetMapInfo(i)->GetMapData().GetKey();
    EXPECT_EQ(byKey.count(key) != 0 ? byKey.at(key) : std::vector<uint32_t>{}, std::vector<uint32_t>{servers[i]})
        << key;
    EXPECT_EQ(machine.Pid(i), servers[i]);
  }
  std::size_t contradictions = 0;
  for (const auto& line : m_Log.Texts(llWarn))
    contradictions += line.find("is not its map server") != std::string::npos;
  EXPECT_EQ(contradictions, 3u);

  // Rewritten again: "KillAll" kills the map servers themselves and leaves the sleeper.
  for (int i = 0; i < 3; ++i) record::SetProcessId(machine.Record(i), written[i]);
  machine.dialogs.answers = {true};
  launcher.KillAllServers();
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(WaitUntil([&] { return Gone(servers[i]); })) << servers[i];
  EXPECT_FALSE(Gone(sleeper));
}

TEST_F(LaunchEdgeTest, ACloseKillsTheProcessItNotedWhateverTheRecordSaysDuringTheWait) {
  LaunchMachine machine("EdgeClose");
  setenv("VEMO_MS_FAULTS", "*:ignoreclose", 1);
  machine.WriteMaps({{1, 1}, {2, 1}});
  MapServerLauncher& launcher = machine.StartAll();
  ASSERT_TRUE(machine.WaitAllRunning());
  const uint32_t closed = machine.Pid(0), neighbour = machine.Pid(1);

  // During the wait the record comes to name the neighbour's map server, a live map server
  // of this tree; the 60 seconds pass on the test's clock.
  FakeClock clock;
  clock.now = 1000;
  machine.window.onProcessMessages = [&] {
    record::SetProcessId(machine.Record(0), neighbour);
    clock.now += 5000;
  };
  EXPECT_TRUE(launcher.CloseOneServer(0, false));
  machine.window.onProcessMessages = nullptr;
  EXPECT_TRUE(WaitUntil([&] { return Gone(closed); })) << "the map server asked to close still runs";
  EXPECT_FALSE(Gone(neighbour)) << "the close killed another map's server";
  EXPECT_TRUE(launcher.IsMapServerAlive(*machine.maps.GetMapInfo(1)));
}

TEST_F(LaunchEdgeTest, LivenessAndKillFollowTheMapsKeyNotAnyMapServerOfTheTree) {
  // The map servers of an earlier manager run: map 1's record names map 2's server.
  LaunchMachine machine("EdgeKey");
  machine.WriteMaps({{1, 1}, {2, 1}});
  machine.StartAll();
  ASSERT_TRUE(machine.WaitAllRunning());
  const uint32_t one = machine.Pid(0), two = machine.Pid(1);
  machine.EndManagerLeavingMapServers();
  ASSERT_TRUE(platform::TerminateProcess(machine.maps.GetMapInfo(0)->GetProcessInfo().ProcessHandle, -1));
  ASSERT_TRUE(WaitUntil([&] { return !platform::IsProcessAlive(one); }));
  record::SetProcessId(machine.Record(0), two);

  // A new launcher over new maps, as a later manager sees them.
  LaterManager next(machine);
  MapServerLauncher& launcher = next.launcher;
  MapServerInfoManager& later = next.maps;
  MapServerInfo& mapOne = *later.GetMapInfo(0);
  EXPECT_FALSE(launcher.IsMapServerAlive(mapOne));
  EXPECT_FALSE(launcher.KillProcess(mapOne));
  EXPECT_FALSE(Gone(two));
  EXPECT_TRUE(Logged("serves another map"));
  launcher.StartAllServers(false);
  ASSERT_TRUE(WaitUntil([&] { return record::ProcessId(*mapOne.GetShareData()) != two; }));
  EXPECT_TRUE(launcher.IsMapServerAlive(*later.GetMapInfo(1)));
  EXPECT_EQ(record::ProcessId(*later.GetMapInfo(1)->GetShareData()), two);
}

TEST_F(LaunchEdgeTest, AMapServerHiddenByARewrittenRecordIsFoundByItsKeyAndNeverDoubled) {
  // A manager was killed while map 1's record came to name map 2's server: no manager held
  // map 1's server, and no record names it any more.
  LaunchMachine machine("EdgeHidden");
  machine.WriteMaps({{1, 1}, {2, 1}});
  machine.StartAll();
  ASSERT_TRUE(machine.WaitAllRunning());
  const uint32_t one = machine.Pid(0), two = machine.Pid(1);
  machine.EndManagerLeavingMapServers();
  record::SetProcessId(machine.Record(0), two);

  LaterManager next(machine);
  MapServerLauncher& launcher = next.launcher;
  MapServerInfoManager& later = next.maps;
  const uint32_t passes = launcher.GetStartPassCount();
  launcher.StartAllServers(false);
  ASSERT_TRUE(WaitUntil([&] { return launcher.GetStartPassCount() > passes; }));

  // One map server per map, from /proc; map 1's is its old server, supervised again.
  const auto servers = MapServersByKey(machine);
  const std::string keyOne = later.GetMapInfo(0)->GetMapData().GetKey();
  const std::string keyTwo = later.GetMapInfo(1)->GetMapData().GetKey();
  ASSERT_EQ(servers.count(keyOne), 1u);
  EXPECT_EQ(servers.at(keyOne), std::vector<uint32_t>{one});
  EXPECT_EQ(servers.at(keyTwo), std::vector<uint32_t>{two});
  EXPECT_EQ(record::ProcessId(*later.GetMapInfo(0)->GetShareData()), one);
  EXPECT_TRUE(launcher.KillProcess(*later.GetMapInfo(0)));
  EXPECT_TRUE(WaitUntil([&] { return !platform::IsProcessAlive(one); }));
  EXPECT_FALSE(Gone(two));
}

TEST_F(LaunchEdgeTest, AMapServerThatDiesIsReapedAtOnceWithItsExitCodeInTheLog) {
  LaunchMachine machine("EdgeReap");
  machine.WriteMaps({{1, 1}});
  MapServerLauncher& launcher = machine.StartAll();
  ASSERT_TRUE(machine.WaitAllRunning());
  const uint32_t pid = machine.Pid(0);

  // Killed from outside; nobody asks about the map, only the children's watch is looked at.
  ASSERT_EQ(kill(static_cast<pid_t>(pid), SIGKILL), 0);
  pollfd watch{platform::ChildEndWatchFd(), POLLIN, 0};
  const auto start = std::chrono::steady_clock::now();
  while (!Gone(pid) && std::chrono::steady_clock::now() - start < std::chrono::seconds(1)) {
    poll(&watch, 1, 100);
    launcher.ReapEndedServers();
  }
  EXPECT_TRUE(Gone(pid)) << "the map server is left a zombie";
  EXPECT_TRUE(Logged("map server " + std::to_string(pid) + " ended by itself (exit code 137)"));
}

TEST_F(LaunchEdgeTest, TheReconnectCheckCountsOnlyRestartsThatLaunched) {
  LaunchMachine machine("EdgeCount");
  setenv("VEMO_MS_FAULTS", (machine.Server() + "_1:state6@0").c_str(), 1);
  machine.WriteMaps({{1, 1}});
  MapServerLauncher& launcher = machine.StartAll();
  ASSERT_TRUE(machine.WaitForState(0, msDisconnected));
  launcher.ProcessDisconnectCheck();
  EXPECT_EQ(launcher.Restarts().RestartCount(1, ExitedMapRestarts::rrDisconnected), 1u);

  // The programs are gone: the restart is declined and not counted.
  ASSERT_TRUE(machine.WaitForState(0, msDisconnected));
  for (const char* program : {"VemoMapServer", "VemoMapServerDM"})
    std::filesystem::remove(machine.mapDataDir + program);
  launcher.ProcessDisconnectCheck();
  EXPECT_EQ(machine.Pid(0), 0u);
  EXPECT_EQ(launcher.Restarts().RestartCount(1, ExitedMapRestarts::rrDisconnected), 1u);
  EXPECT_TRUE(Logged("was not launched"));
}

TEST_F(LaunchEdgeTest, CloseAllAndKillAllAskTheirQuestionsAndCancelAtEitherChangesNothing) {
  LaunchMachine machine("EdgeAsk");
  // The map servers stop writing their figures once running: the test decides who is online.
  setenv("VEMO_MS_FAULTS", "*:hang@0", 1);
  machine.WriteMaps({{1, 1}, {2, 1}});
  MapServerLauncher& launcher = machine.StartAll();
  ASSERT_TRUE(machine.WaitAllRunning());
  const uint32_t one = machine.Pid(0), two = machine.Pid(1);
  for (int i : {0, 1}) ASSERT_TRUE(machine.WaitUntilHung(i));
  record::Store(machine.Record(0).PlayerCnt, 0);
  record::Store(machine.Record(1).PlayerCnt, 3);
  auto questions = [&] {
    std::vector<std::string> asked;
    for (const auto& record : machine.dialogs.records) asked.push_back(record.caption + ": " + record.text);
    machine.dialogs.records.clear();
    return asked;
  };
  auto untouched = [&] {
    return record::CloseRequest(machine.Record(0)) == 0 && record::CloseRequest(machine.Record(1)) == 0 && !Gone(one) &&
           !Gone(two);
  };
  const std::string closeAll = "CloseAsk: CloseAll?", killAll = "KillAsk: KillAll?",
                    playersOnline = "CloseAsk: Not All Player Off Line. Close Sure?";

  // Cancel at the first question, then at the players' question: nothing changes.
  machine.dialogs.answers = {false};
  launcher.CloseAllServers();
  EXPECT_EQ(questions(), std::vector<std::string>{closeAll});
  machine.dialogs.answers = {true, false};
  launcher.CloseAllServers();
  EXPECT_EQ(questions(), (std::vector<std::string>{closeAll, playersOnline}));
  machine.dialogs.answers = {false};
  launcher.KillAllServers();
  EXPECT_EQ(questions(), std::vector<std::string>{killAll});
  machine.dialogs.answers = {true, false};
  launcher.KillAllServers();
  EXPECT_EQ(questions(), (std::vector<std::string>{killAll, playersOnline}));
  EXPECT_TRUE(untouched());

  // Nobody online: one question each. "CloseAll" asks every map server to close and waits
  // for none; "KillAll" kills them.
  record::Store(machine.Record(1).PlayerCnt, 0);
  machine.dialogs.answers = {true};
  launcher.CloseAllServers();
  EXPECT_EQ(questions(), std::vector<std::string>{closeAll});
  EXPECT_EQ(record::CloseRequest(machine.Record(0)), 1);
  EXPECT_EQ(record::CloseRequest(machine.Record(1)), 1);
  machine.dialogs.answers = {true};
  launcher.KillAllServers();
  EXPECT_EQ(questions(), std::vector<std::string>{killAll});
  EXPECT_TRUE(WaitUntil([&] { return Gone(one) && Gone(two); }));
}

}  // namespace
