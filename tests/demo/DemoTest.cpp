// The demo's machine in CI, without a display: the status server gets the figures of every
// map within a minute, /metrics parses and matches the records, SIGTERM ends the manager
// and leaves its map servers to the next manager, and Ctrl-C ends everything the demo
// started.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <regex>

#include "app/ManagerMachine.h"
#include "registry/AShareStructObj.h"
#include "registry/RecordAccess.h"
#include "support/FreePort.h"

namespace {

// A command's standard output and error.
std::string Output(const std::string& command) { return RunCommand(command).output; }

// Runs `arguments` in `dir` in a process group of its own, with `extra` set in the environment.
pid_t Spawn(const std::string& dir, const std::vector<std::string>& arguments, const std::vector<std::string>& extra,
            const std::string& outPath) {
  const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
  return SpawnProgram(arguments[0], rest, outPath, {.setEnv = extra, .workDir = dir, .ownProcessGroup = true});
}

TEST(DemoTest, TheWholeMachineRunsWithoutADisplayAndHandsItsMapServersToTheNextManager) {
  ManagerMachine machine;
  const std::string bin = machine.Dir().substr(0, machine.Dir().size() - 1);
  const std::string server = "Demo" + std::to_string(getpid());
  const int metricsPort = FreePort(), statusPort = FreePort(), linePort = FreePort();
  const std::vector<std::string> env = {"VEMO_DEMO_PLATFORM=offscreen",
                                        "VEMO_UNATTENDED=ok",
                                        "VEMO_DEMO_SERVER=" + server,
                                        "VEMO_DEMO_SIGN=" + server,
                                        "VEMO_DEMO_STATUS_PORT=" + std::to_string(statusPort),
                                        "VEMO_DEMO_LINE_PORT=" + std::to_string(linePort),
                                        "VEMO_DEMO_METRICS_PORT=" + std::to_string(metricsPort),
                                        "VEMO_LOG_DIR=" + machine.LogDir(),
                                        "VEMO_DEMO_PROMETHEUS_PORT=" + std::to_string(FreePort())};
  const pid_t demo = Spawn(bin, {"/bin/bash", DEMO_SCRIPT, bin}, env, machine.Dir() + "demo.out");
  struct EndDemo {
    pid_t pid;
    std::string bin;
    ~EndDemo() {
      if (pid > 0) {
        kill(pid, SIGINT);
        waitpid(pid, nullptr, 0);
      }
      // Whatever the demo left, should it have failed to end it.
      std::system(("pkill -KILL -f '^" + bin + "/' 2>/dev/null").c_str());
    }
  } endDemo{demo, bin};

  // The status server's table lists every map within a minute. It prints the summary and
  // then each row as a line of its own: wait for the whole table, not only its first line.
  const std::string statusOut = machine.Dir() + "StatusServer.out";
  auto missingRows = [&] {
    const std::string out = ReadFile(statusOut);
    const std::size_t summary = out.find(": 36 maps, map entries 36");
    std::string missing = summary == std::string::npos ? "the summary" : "";
    for (int id = 1001; id <= 1036 && summary != std::string::npos; ++id)
      if (out.find(std::to_string(id) + "  " + server + "(", summary) == std::string::npos)
        missing += " " + std::to_string(id);
    return missing;
  };
  ASSERT_TRUE(WaitUntil([&] { return missingRows().empty(); }, 60000, 200))
      << "missing: " << missingRows() << "\n"
      << ReadFile(machine.Dir() + "demo.out") << ReadFile(statusOut);

  // /metrics parses with the Prometheus parser and agrees with the records.
  std::map<int, std::unique_ptr<AShareStructObj<tagMapServerData>>> records;
  for (int id = 1001; id <= 1036; ++id)
    records[id] = std::make_unique<AShareStructObj<tagMapServerData>>(server + "_" + std::to_string(id) + "_Config");
  // Maps that behave reach "Running" and stay there: compare once they have.
  for (int id : {1001, 1002, 1036})
    ASSERT_TRUE(WaitUntil([&] { return record::State(*records[id]->GetData()) == msRunning; }, 60000, 200)) << id;
  const std::string parsed =
      Output("/usr/bin/python3 " PARSE_METRICS " http://127.0.0.1:" + std::to_string(metricsPort) + "/metrics");
  ASSERT_NE(parsed.find("content-type|text/plain"), std::string::npos) << parsed;
  for (int id : {1001, 1002, 1036}) {
    const std::regex state("vemo_map_state\\|map_id=" + std::to_string(id) + ",[^|]*\\|([0-9.]+)");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(parsed, match, state)) << id;
    EXPECT_EQ(std::stod(match[1]), record::State(*records[id]->GetData())) << id;
  }
  EXPECT_NE(parsed.find("vemo_status_link_connected||1.0"), std::string::npos);

  // SIGTERM: the manager ends in order and its map servers run on.
  const pid_t manager = std::stoi(ReadFile(machine.Dir() + "VemoMapServerManager.pid"));
  std::map<int, uint32_t> pids;
  for (int id : {1001, 1002, 1036}) pids[id] = record::ProcessId(*records[id]->GetData());
  ASSERT_EQ(kill(manager, SIGTERM), 0);
  ASSERT_TRUE(WaitUntil([&] { return kill(manager, 0) != 0; }, 20000, 200));
  for (const auto& [id, pid] : pids) EXPECT_EQ(kill(static_cast<pid_t>(pid), 0), 0) << "map " << id << " ended";

  // The next manager supervises them: it launches none of them again.
  std::vector<std::string> managerEnv = env;
  managerEnv.push_back("QT_QPA_PLATFORM=offscreen");
  const pid_t next = Spawn(bin, {bin + "/VemoMapServerManager", "-autolaunch"}, managerEnv, machine.Dir() + "next.out");
  ASSERT_TRUE(WaitUntil(
      [&] {
        return machine.Log().find("waits for Start") != std::string::npos && machine.CountLog("waits for Start") >= 2;
      },
      30000, 200))
      << ReadFile(machine.Dir() + "next.out") << machine.Log();
  std::string client;
  ASSERT_TRUE(WaitUntil(
      [&] {
        client = Output(bin + "/HalvixClient --manager " + std::to_string(next) + " --timeout 60 start --wait 2>&1");
        return client.find("result ok") != std::string::npos;
      },
      30000, 200))
      << client;
  ASSERT_TRUE(WaitUntil([&] { return machine.CountLog("is supervised again") >= 30; }, 30000, 200)) << machine.Log();
  for (const auto& [id, pid] : pids) EXPECT_EQ(record::ProcessId(*records[id]->GetData()), pid) << id;

  // Ctrl-C: the demo ends everything it started, map servers included.
  kill(demo, SIGINT);
  int status = 0;
  ASSERT_TRUE(WaitUntil([&] { return waitpid(demo, &status, WNOHANG) == demo; }, 30000, 200));
  endDemo.pid = 0;
  EXPECT_TRUE(WaitUntil([&] { return Output("pgrep -f '^" + bin + "/' || true").empty(); }, 10000, 200))
      << Output("pgrep -fa '^" + bin + "/'");
}

}  // namespace
