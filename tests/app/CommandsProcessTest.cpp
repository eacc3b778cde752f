// A real manager driven from outside, as an operator's scripts drive it: the launch-control
// client starts and stops its service, and the controller program registers with it and
// asks it to close everything and exit, over the real message bus, with real map servers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <memory>
#include <regex>

#include "ManagerMachine.h"
#include "app/InstanceSegment.h"
#include "registry/MapServerData.h"
#include "registry/MapServerState.h"
#include "registry/RecordAccess.h"
#include "support/ChildProgram.h"

namespace {

struct Program {
  pid_t pid = 0;
  std::string out;
};

// Starts a program of the runnable tree with its output in a file of the machine.
Program Spawn(const ManagerMachine& machine, const std::string& program, const std::vector<std::string>& args,
              const std::string& name) {
  Program run;
  run.out = machine.Dir() + name + ".out";
  run.pid = SpawnProgram(std::string(VEMO_BIN_DIR) + program, args, run.out);
  return run;
}

int Finish(const Program& run) { return WaitProgram(run.pid); }

TEST(CommandsProcessTest, ScriptsStartStopAndCloseARunningManager) {
  ManagerMachine machine;
  const std::string server = "ProcCmd" + std::to_string(getpid());
  std::ofstream(machine.Dir() + "MapServerData/Map/MapID.txt")
      << "31 " << server << " A 1 1 100 0 0 1\n32 " << server << " B 2 1 100 0 0 1\n33 " << server
      << " C 3 1 100 0 0 1\n";
  machine.WriteIni("[MapManager]\nedtMutexSign=" + server + "\n");
  // The map servers stop writing their figures once running, so the test decides who is online.
  setenv("VEMO_MS_PHASE_MS", "0", 1);
  setenv("VEMO_MS_FAULTS", "*:hang@0", 1);
  // Launch control is loaded from the current directory: the manager starts from its own.
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(machine.Dir().c_str()), 0);
  const pid_t manager = machine.Start({"-autolaunch"});
  ASSERT_EQ(chdir(cwd), 0);
  unsetenv("VEMO_MS_FAULTS");
  ASSERT_TRUE(machine.WaitForLog("waits for Start")) << machine.Stderr(0);
  std::smatch match;
  const std::string log = machine.Log();
  ASSERT_TRUE(std::regex_search(log, match, std::regex("FormCreate done, window ([0-9]+) waits")));
  const std::string window = match[1];
  EXPECT_EQ(log.find("LaunchDLL Init Fail!!"), std::string::npos);
  const std::string managerPid = std::to_string(manager);

  // Start from a shell, once.
  Program start =
      Spawn(machine, "HalvixClient", {"--manager", managerPid, "--timeout", "60", "start", "--wait"}, "start");
  EXPECT_EQ(Finish(start), 0) << ReadFile(start.out);
  EXPECT_NE(ReadFile(start.out).find("event started"), std::string::npos);
  Program again = Spawn(machine, "HalvixClient", {"--manager", managerPid, "start"}, "again");
  EXPECT_EQ(Finish(again), 1) << ReadFile(again.out);

  // "-autolaunch": every map server runs after Start.
  std::vector<std::unique_ptr<MapServerData>> maps;
  for (int id : {31, 32, 33}) maps.push_back(std::make_unique<MapServerData>(server, id));
  for (auto& map : maps) {
    ASSERT_NE(map->GetShareData(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return record::State(*map->GetShareData()) == msRunning; })) << map->GetKey();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (auto& map : maps) record::Store(map->GetShareData()->PlayerCnt, 0);
  tagMapServerData& busy = *maps[2]->GetShareData();
  record::Store(busy.PlayerCnt, 3);

  // Close and exit while a player is online: refused, the manager keeps running.
  Program refused = Spawn(machine, "VemoController", {"--manager", window, "--timeout", "3", "close"}, "refused");
  EXPECT_EQ(Finish(refused), 1) << ReadFile(refused.out);
  EXPECT_NE(ReadFile(refused.out).find("32773"), std::string::npos) << "registered first";
  EXPECT_TRUE(machine.WaitForLog("if(this->GetTotalPlayerCnt() != 0)"));
  EXPECT_TRUE(machine.IsRunning(manager));

  // Stop while the player is online: it waits, and the window keeps answering both the
  // launch-control client and the controller meanwhile.
  Program stop = Spawn(machine, "HalvixClient", {"--manager", managerPid, "stop"}, "stop");
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(stop.out).find("event stopping") != std::string::npos; }));
  Program status = Spawn(machine, "HalvixClient", {"--manager", managerPid, "--timeout", "10", "status"}, "status");
  EXPECT_EQ(Finish(status), 0);
  EXPECT_NE(ReadFile(status.out).find("result ok service stopping"), std::string::npos);
  Program registered =
      Spawn(machine, "VemoController", {"--manager", window, "--timeout", "10", "register"}, "register");
  EXPECT_EQ(Finish(registered), 0) << ReadFile(registered.out);
  for (auto& map : maps)
    EXPECT_EQ(record::CloseRequest(*map->GetShareData()), 0) << "nothing asked while players are online";
  record::Store(busy.PlayerCnt, 0);
  EXPECT_EQ(Finish(stop), 0) << ReadFile(stop.out);
  EXPECT_NE(ReadFile(stop.out).find("result ok stopped"), std::string::npos);
  std::vector<uint32_t> pids;
  for (auto& map : maps) {
    EXPECT_EQ(record::CloseRequest(*map->GetShareData()), 1) << map->GetKey();
    pids.push_back(record::ProcessId(*map->GetShareData()));
  }

  // No player online: the map servers are killed and the manager ends, reporting to the
  // controller, with every line in its log.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string bus = runtime != nullptr && *runtime != '\0' ? std::string(runtime) + "/vemo-bus/"
                                                                 : "/tmp/vemo-bus-" + std::to_string(getuid()) + "/";
  ASSERT_EQ(access((bus + window + ".info").c_str(), F_OK), 0) << "the window's endpoint is where the bus keeps it";
  Program close = Spawn(machine, "VemoController", {"--manager", window, "close"}, "close");
  EXPECT_EQ(Finish(close), 0) << ReadFile(close.out);
  EXPECT_NE(ReadFile(close.out).find("32770 (0x8002)"), std::string::npos);
  EXPECT_EQ(machine.WaitExit(manager), 0);
  EXPECT_NE(machine.Log().find("Close Success!"), std::string::npos);
  // Ending at once from the window still lets go of its instance segment: no name is left.
  const int instance =
      shm_open(platform::SharedMemoryObjectName(app::InstanceSegment::NameOf(server)).c_str(), O_RDONLY, 0);
  if (instance >= 0) ::close(instance);
  EXPECT_LT(instance, 0) << "the instance segment's name was left behind";
  // Nor its bus endpoint's files.
  for (const char* suffix : {".info", ".sock"})
    EXPECT_NE(access((bus + window + suffix).c_str(), F_OK), 0)
        << "the endpoint's " << suffix << " file was left behind";
  for (uint32_t pid : pids)
    EXPECT_TRUE(WaitUntil([&] { return kill(static_cast<pid_t>(pid), 0) != 0; })) << "map server " << pid;

  Program gone = Spawn(machine, "VemoController", {"--manager", window, "--timeout", "2", "close"}, "gone");
  EXPECT_EQ(Finish(gone), 2);
}

}  // namespace
