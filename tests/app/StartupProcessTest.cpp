// The manager as a real process, started from a machine directory of its own: the
// crash-reporting query, the single-instance rule, and start-up failures with their
// texts and exit codes.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>

#include "ManagerMachine.h"
#include "app/InstanceSegment.h"

namespace {

constexpr const char* kStarted = "TVemoMapServerManagerMain::FormCreate done";

std::string UniqueSign(const char* tag) {
  static int counter = 0;
  return std::string("VemoAppProcTest_") + tag + "_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

void WriteSign(const ManagerMachine& machine, const std::string& sign) {
  machine.WriteIni("[MapManager]\nedtMutexSign=" + sign + "\n");
}

// True while the instance segment of `sign` still has its name in /dev/shm.
bool InstanceNameExists(const std::string& sign) {
  const std::string object = platform::SharedMemoryObjectName(app::InstanceSegment::NameOf(sign));
  const int fd = shm_open(object.c_str(), O_RDONLY, 0);
  if (fd < 0) return false;
  close(fd);
  return true;
}

TEST(StartupProcessTest, CheckEurekaActiveAnswersInAnyCaseAndOnlyAlone) {
  ManagerMachine machine;
  WriteSign(machine, UniqueSign("eureka"));
  for (const char* spelling : {"-CheckEurekaActive", "-checkeurekaactive", "-CHECKEUREKAACTIVE"}) {
    const pid_t pid = machine.Start({spelling});
    EXPECT_EQ(machine.WaitExit(pid), 0) << spelling;
  }
  EXPECT_TRUE(machine.Log().empty()) << "the query ends before start-up writes anything";

  // With a second argument the switch is not the query: start-up runs.
  const pid_t pid = machine.Start({"-CheckEurekaActive", "more"});
  EXPECT_TRUE(machine.WaitForLog(kStarted)) << machine.Stderr(3);
  EXPECT_TRUE(machine.IsRunning(pid));
}

TEST(StartupProcessTest, ASecondManagerWithTheSameSignRaisesTheFirstAndEnds) {
  ManagerMachine machine;
  WriteSign(machine, UniqueSign("same"));
  const pid_t first = machine.Start();
  ASSERT_TRUE(machine.WaitForLog(kStarted)) << machine.Stderr(0);

  const pid_t second = machine.Start();
  EXPECT_EQ(machine.WaitExit(second), 0) << machine.Stderr(1);
  EXPECT_TRUE(machine.WaitForLog("brought to the foreground by process " + std::to_string(second))) << machine.Log();
  EXPECT_TRUE(machine.IsRunning(first));
  EXPECT_EQ(machine.CountLog(kStarted), 1u);
}

TEST(StartupProcessTest, TerminationSignalsCloseInOrderWithoutTheQuestion) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    ManagerMachine machine;
    const std::string sign = UniqueSign("signal");
    WriteSign(machine, sign);
    const pid_t pid = machine.Start();
    ASSERT_TRUE(machine.WaitForLog(kStarted)) << machine.Stderr(0);
    ASSERT_EQ(kill(pid, sig), 0);
    EXPECT_EQ(machine.WaitExit(pid), 0) << "signal " << sig << ": " << machine.Stderr(0);
    EXPECT_EQ(machine.CountLog("signal " + std::to_string(sig) + ", closing without the question"), 1u)
        << machine.Log();
    EXPECT_EQ(machine.Stderr(0).find("CloseProc?"), std::string::npos) << "the operator was asked";
    // The instance segment went with the window: the sign is free again.
    const pid_t next = machine.Start();
    for (int i = 0; i < 400 && machine.CountLog(kStarted) < 2; ++i) usleep(50000);
    EXPECT_EQ(machine.CountLog(kStarted), 2u) << machine.Stderr(1);
    EXPECT_TRUE(machine.IsRunning(next));
  }
}

TEST(StartupProcessTest, DifferentSignsRunSideBySide) {
  ManagerMachine one, two;
  const std::string signOne = UniqueSign("one");
  WriteSign(one, signOne);
  WriteSign(two, UniqueSign("two"));
  const pid_t a = one.Start();
  const pid_t b = two.Start();
  ASSERT_TRUE(one.WaitForLog(kStarted)) << one.Stderr(0);
  ASSERT_TRUE(two.WaitForLog(kStarted)) << two.Stderr(0);
  EXPECT_TRUE(one.IsRunning(a));
  EXPECT_TRUE(two.IsRunning(b));

  // A third manager with the first sign, from another directory, still meets the first.
  ManagerMachine three;
  WriteSign(three, signOne);
  const pid_t c = three.Start();
  EXPECT_EQ(three.WaitExit(c), 0) << three.Stderr(0);
  EXPECT_TRUE(one.WaitForLog("brought to the foreground by process " + std::to_string(c)));
}

TEST(StartupProcessTest, ABlankSignAllowsAnyNumberOfManagers) {
  ManagerMachine machine;
  machine.WriteIni("[MapManager]\nedtMutexSign=   \n");
  const pid_t pids[] = {machine.Start(), machine.Start(), machine.Start()};
  WaitUntil([&] { return machine.CountLog(kStarted) >= 3; }, 20000, 50);
  EXPECT_EQ(machine.CountLog(kStarted), 3u) << machine.Log();
  for (pid_t pid : pids) EXPECT_TRUE(machine.IsRunning(pid));
}

TEST(StartupProcessTest, AnIniLineThatIsNoIniIsSkippedAndSaidOnceInTheManagersLog) {
  ManagerMachine machine;
  const std::string sign = UniqueSign("badline");
  machine.WriteIni("[MapManager]\nthis line is no ini\nedtMutexSign=" + sign + "\n");
  const pid_t first = machine.Start();
  ASSERT_TRUE(machine.WaitForLog(kStarted)) << machine.Stderr(0);
  EXPECT_EQ(machine.CountLog("line 2: neither a section, a key=value nor a comment"), 1u) << machine.Log();
  // The sign after the broken line is in force: a manager elsewhere with that sign meets the first.
  ManagerMachine other;
  WriteSign(other, sign);
  const pid_t second = other.Start();
  EXPECT_EQ(other.WaitExit(second), 0) << other.Stderr(0);
  EXPECT_TRUE(machine.IsRunning(first));
}

// A missing or broken component: the exact text of its box and the exit code.
TEST(StartupProcessTest, MissingOrBrokenComponentsEndStartUpWithTheirTexts) {
  struct Case {
    const char* name;
    const char* without;       // a file of build/bin left out
    const char* brokenBrenox;  // or a broken build of the configuration component
    const char* text;          // what standard error shows ("" = nothing may show)
  };
  const Case cases[] = {
      {"no Brenox", "libBrenox.so", nullptr,
       "[ErrorBox] Error report: Can't find Brenox.dll!!!Fail to start server!!!"},
      {"no CreateConfig", nullptr, "NoCreateConfig",
       "[ErrorBox] Error report: Can't find CreateConfig function in Brenox module!!!Fail to start server!!!"},
      {"no FreeConfig", nullptr, "NoFreeConfig",
       "[ErrorBox] Error report: Can't find FreeConfig function in Brenox module!!!Fail to start server!!!"},
      {"CreateConfig gives nothing", nullptr, "NullConfig", ""},
      {"no Tolvar", "libTolvar.so", nullptr,
       "[ErrorBox] Error report: Can't find tolvar.dll!!!Fail to start server!!!"},
      {"no Pellwyn", "libPellwyn.so", nullptr, "[Message] Load Pellwyn.dll failed!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ManagerMachine machine(c.without ? std::set<std::string>{c.without} : std::set<std::string>{});
    const std::string sign = UniqueSign("broken");
    WriteSign(machine, sign);
    if (c.brokenBrenox)
      machine.Replace("libBrenox.so", std::string(VEMO_APP_FIXTURES) + c.brokenBrenox + "/libBrenox.so");
    const pid_t pid = machine.Start();
    EXPECT_EQ(machine.WaitExit(pid), 1);
    const std::string err = machine.Stderr(0);
    if (*c.text != '\0') {
      EXPECT_NE(err.find(c.text), std::string::npos) << err;
    } else {
      EXPECT_EQ(err.find("[ErrorBox]"), std::string::npos) << err;
      EXPECT_EQ(err.find("[Message]"), std::string::npos) << err;
    }
    EXPECT_EQ(machine.CountLog(kStarted), 0u);
    // Ending at once on a fatal failure still lets go of the instance segment.
    EXPECT_FALSE(InstanceNameExists(sign));
  }
}

// A component file that is there but cannot be used: the check tool that cannot be started
// and the system data component that cannot be loaded end the process at once with -1.
TEST(StartupProcessTest, ToolsAndComponentsThatAreThereButBrokenEndTheProcessWithMinusOne) {
  struct Case {
    const char* file;   // the file of the machine replaced with a text file
    const char* fatal;  // the fatal line that says why
  };
  const Case cases[] = {
      {"Holmira", "Create Holmira.exe failed! GetLastError() = 13"},
      {"MapServerData/Script/_Selvane.so", "Load DLL "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ManagerMachine machine;
    const std::string sign = UniqueSign("minusone");
    WriteSign(machine, sign);
    const std::string broken = machine.Dir() + "not-a-program";
    std::ofstream(broken) << "not a program\n";
    machine.Replace(c.file, broken);
    const pid_t pid = machine.Start();
    EXPECT_EQ(machine.WaitExit(pid), 255) << machine.Stderr(0);
    EXPECT_TRUE(machine.WaitForLog(c.fatal, 2000)) << machine.Log();
    EXPECT_EQ(machine.CountLog(kStarted), 0u);
    EXPECT_FALSE(InstanceNameExists(sign));
  }
}

TEST(StartupProcessTest, AKilledManagersInstanceNameIsRemovedByTheNextStart) {
  ManagerMachine killed, next;
  const std::string killedSign = UniqueSign("killed");
  WriteSign(killed, killedSign);
  WriteSign(next, UniqueSign("next"));
  const pid_t victim = killed.Start();
  ASSERT_TRUE(killed.WaitForLog(kStarted)) << killed.Stderr(0);
  killed.Kill(victim);  // its instance segment's name stays, held by nobody
  const pid_t pid = next.Start();
  ASSERT_TRUE(next.WaitForLog(kStarted)) << next.Stderr(0);
  EXPECT_FALSE(InstanceNameExists(killedSign));
  EXPECT_TRUE(next.IsRunning(pid));
}

TEST(StartupProcessTest, AManagerStartedFromAShellShowsItsStartUpFailureInItsDialog) {
  // The environment dump tool is missing: a fatal start-up failure. A program with a window
  // tells its operator in a dialog, never by waiting for a key on the terminal it came from.
  ManagerMachine machine({"Gavrock"});
  WriteSign(machine, UniqueSign("shell"));
  const pid_t pid = machine.Start({}, true);
  EXPECT_EQ(machine.WaitExit(pid), 1) << machine.Stderr(0);
  const std::string err = machine.Stderr(0);
  EXPECT_NE(err.find("[ErrorBox] Check EvnInfoError: Can't find file: " + machine.Dir() + "Gavrock.exe"),
            std::string::npos)
      << err;
  EXPECT_EQ(err.find("Press any key"), std::string::npos) << err;
}

TEST(StartupProcessTest, AMissingGameDataComponentIsLoggedAsFatal) {
  ManagerMachine machine({"libPellwyn.so"});
  WriteSign(machine, UniqueSign("pellwyn"));
  const pid_t pid = machine.Start();
  EXPECT_EQ(machine.WaitExit(pid), 1);
  const std::string log = machine.Log();
  EXPECT_NE(log.find("[Fatal] Load Pellwyn.dll failed!"), std::string::npos) << log;
  EXPECT_NE(log.find("LoadLibrary(Pellwyn.dll) failed! Error Code = 126"), std::string::npos) << log;
}

}  // namespace
