// A real manager under an open-file limit too small for its map list: it starts what it can,
// ends on SIGTERM leaving its map servers running, and the next manager under the same limit
// supervises them without ever starting a second map server for a map. Counted from /proc.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <filesystem>

#include "ManagerMachine.h"
#include "launch/MapServerLauncher.h"
#include "support/ChildProgram.h"
#include "support/MapServerCensus.h"

namespace {

constexpr int kMaps = 40;

// Starts the manager's service from the launch-control client and waits for it.
int PressStart(const ManagerMachine& machine, pid_t manager, const std::string& name) {
  const std::string out = machine.Dir() + name + ".out";
  const pid_t client = SpawnProgram(std::string(VEMO_BIN_DIR) + "HalvixClient",
                                    {"--manager", std::to_string(manager), "--timeout", "60", "start", "--wait"}, out);
  return WaitProgram(client);
}

// Waits until the number of map servers has stayed the same for two seconds.
std::map<std::string, std::vector<uint32_t>> SettledCensus(const std::string& programDir, const std::string& prefix) {
  auto census = MapServersByKey(programDir, prefix);
  std::size_t last = 0;
  int stable = 0;
  for (int i = 0; i < 120 && stable < 8; ++i) {
    usleep(250000);
    census = MapServersByKey(programDir, prefix);
    std::size_t count = 0;
    for (const auto& [key, pids] : census) count += pids.size();
    stable = count == last && count > 0 ? stable + 1 : 0;
    last = count;
  }
  return census;
}

TEST(LowFileLimitProcessTest, ASecondManagerUnderTheLimitNeverStartsASecondMapServerForAMap) {
#if defined(VEMO_UNDER_ASAN)
  // The undefined-behaviour sanitizer checks a virtual call's dynamic type by probing memory
  // through a pipe; with the descriptor table full on purpose it cannot make one and reports
  // every virtual call as invalid. The main pass runs this test.
  GTEST_SKIP() << "the sanitizer's type check needs a free descriptor";
#endif
  ManagerMachine machine;
  const std::string server = "LowFd" + std::to_string(getpid());
  std::ofstream list(machine.Dir() + "MapServerData/Map/MapID.txt");
  for (int id = 1; id <= kMaps; ++id) list << id << " " << server << " M" << id << " " << id << " 1 100 0 0 1\n";
  list.close();
  machine.WriteIni("[MapManager]\nedtMutexSign=" + server + "\n");
  setenv("VEMO_MS_PHASE_MS", "0", 1);
  const uint64_t limit = MapServerLauncher::DescriptorsNeeded(kMaps / 2);
  const std::vector<std::string> prlimit = {"/usr/bin/prlimit",
                                            "--nofile=" + std::to_string(limit) + ":" + std::to_string(limit), "--"};
  // The machine's map server programs are links into the runnable tree.
  const std::string programDir =
      std::filesystem::canonical(machine.Dir() + "MapServerData/VemoMapServer").parent_path().string() + "/";
  const std::string limitLine = "the open-file limit is " + std::to_string(limit) + " descriptors but " +
                                std::to_string(kMaps) + " maps need about " +
                                std::to_string(MapServerLauncher::DescriptorsNeeded(kMaps));

  // Launch control is loaded from the current directory: the managers start from their own.
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(machine.Dir().c_str()), 0);
  const pid_t first = machine.Start({"-autolaunch"}, false, prlimit);
  ASSERT_EQ(chdir(cwd), 0);
  ASSERT_TRUE(machine.WaitForLog("waits for Start")) << machine.Stderr(0);
  ASSERT_EQ(PressStart(machine, first, "start1"), 0);
  EXPECT_TRUE(machine.WaitForLog(limitLine)) << machine.Log();
  auto census = SettledCensus(programDir, server + "_");
  std::size_t started = 0;
  for (const auto& [key, pids] : census) started += pids.size();
  EXPECT_GT(started, 0u) << machine.Log();
  EXPECT_EQ(census.size(), started) << "a map has two map servers";

  ASSERT_EQ(kill(first, SIGTERM), 0);
  EXPECT_EQ(machine.WaitExit(first), 0) << machine.Stderr(0);

  ASSERT_EQ(chdir(machine.Dir().c_str()), 0);
  const pid_t second = machine.Start({"-autolaunch"}, false, prlimit);
  ASSERT_EQ(chdir(cwd), 0);
  ASSERT_TRUE(WaitUntil([&] { return machine.CountLog("waits for Start") >= 2; })) << machine.Stderr(1);
  ASSERT_EQ(PressStart(machine, second, "start2"), 0);
  ASSERT_TRUE(WaitUntil([&] { return machine.CountLog(limitLine) >= 2; })) << machine.Log();
  census = SettledCensus(programDir, server + "_");
  for (const auto& [key, pids] : census) EXPECT_EQ(pids.size(), 1u) << "map " << key << " has two map servers";
  EXPECT_LE(census.size(), static_cast<std::size_t>(kMaps));
  EXPECT_TRUE(machine.IsRunning(second)) << machine.Stderr(1);

  machine.Kill(second);
  for (const auto& [key, pids] : MapServersByKey(programDir, server + "_"))
    for (uint32_t pid : pids) kill(static_cast<pid_t>(pid), SIGKILL);
}

}  // namespace
