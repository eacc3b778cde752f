// A real Prometheus with the shipped rules scrapes a real manager of three maps, one of
// whose map servers stops its heartbeat: through Prometheus' HTTP API, VemoMapNotRunning
// fires for that map and for no other, and the healthy maps' figures arrive.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <set>

#include "app/ManagerMachine.h"
#include "support/FreePort.h"
#include "text/Text.h"

namespace {

// Prints one line per alert of Prometheus' alerts API: "<alertname> <map_id> <state>".
const char* kAlertsScript =
    "import json,sys,urllib.request\n"
    "d=json.load(urllib.request.urlopen(sys.argv[1]+'/api/v1/alerts',timeout=5))\n"
    "for a in d['data']['alerts']:\n"
    "  print(a['labels']['alertname'],a['labels'].get('map_id','-'),a['state'],a['labels'].get('name','-'))\n";

// The value of an instant query's single result, or "" when it has none.
const char* kQueryScript =
    "import json,sys,urllib.parse,urllib.request\n"
    "q=urllib.parse.urlencode({'query':sys.argv[2]})\n"
    "d=json.load(urllib.request.urlopen(sys.argv[1]+'/api/v1/query?'+q,timeout=5))\n"
    "r=d['data']['result']\n"
    "print(r[0]['value'][1] if len(r)==1 else '')\n";

TEST(PrometheusEndToEnd, AHungMapFiresVemoMapNotRunningAndNoOtherMapDoes) {
  ManagerMachine machine;
  const std::string server = "Prom" + std::to_string(getpid());
  const int metricsPort = FreePort();
  std::ofstream(machine.Dir() + "MapServerData/Map/MapID.txt")
      << "41 " << server << " Alpha 1 1 100 0 0 1\n42 " << server << " Bravo 2 1 100 0 0 1\n43 " << server
      << " Charlie 3 1 100 0 0 1\n";
  machine.WriteIni("[MapManager]\nedtMutexSign=" + server + "\nMetricsPort=" + std::to_string(metricsPort) +
                   "\nMetricsAddress=127.0.0.1\n");
  WriteFile(machine.Dir() + "alerts.py", kAlertsScript);
  WriteFile(machine.Dir() + "query.py", kQueryScript);

  // Map 42 stops its heartbeat 3 s after it runs; its record then reads "Not Exist!".
  setenv("VEMO_MS_FAULTS", (server + "_42:hang@3").c_str(), 1);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(machine.Dir().c_str()), 0);  // launch control is loaded from there
  const pid_t manager = machine.Start({"-autolaunch"});
  ASSERT_EQ(chdir(cwd), 0);
  unsetenv("VEMO_MS_FAULTS");
  ASSERT_TRUE(machine.WaitForLog("waits for Start")) << machine.Stderr(0);
  const CommandResult start = RunCommand(std::string(VEMO_BIN_DIR) + "HalvixClient --manager " +
                                         std::to_string(manager) + " --timeout 60 start --wait 2>&1");
  ASSERT_EQ(start.exitCode, 0) << start.output;

  // Prometheus with the shipped rules, scraping and evaluating every second.
  const int webPort = FreePort();
  WriteFile(machine.Dir() + "prometheus.yml",
            "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\nrule_files: [\"" RULES
            "\"]\n"
            "scrape_configs:\n  - job_name: vemo\n    static_configs:\n      - targets: [\"127.0.0.1:" +
                std::to_string(metricsPort) + "\"]\n");
  const pid_t prometheus = SpawnProgram(
      PROMETHEUS,
      {"--config.file=" + machine.Dir() + "prometheus.yml", "--storage.tsdb.path=" + machine.Dir() + "tsdb",
       "--web.listen-address=127.0.0.1:" + std::to_string(webPort)},
      machine.Dir() + "prometheus.out", {.ownProcessGroup = true});
  ASSERT_GT(prometheus, 0);
  struct EndPrometheus {
    pid_t pid;
    ~EndPrometheus() {
      kill(-pid, SIGTERM);
      if (WaitProgramEnd(pid, 10000) < 0) KillProgram(pid);
    }
  } endPrometheus{prometheus};
  const std::string web = "http://127.0.0.1:" + std::to_string(webPort);
  auto query = [&](const std::string& expr) {
    return TrimText(
        RunCommand("/usr/bin/python3 " + machine.Dir() + "query.py " + web + " '" + expr + "' 2>&1").output);
  };

  // The healthy maps' records reach Prometheus through the manager's page.
  ASSERT_TRUE(WaitUntil([&] { return query("vemo_map_state{map_id=\"41\"}") == "3"; }, 30000, 500))
      << ReadFile(machine.Dir() + "prometheus.out");
  EXPECT_EQ(query("vemo_map_active{map_id=\"43\"}"), "1");
  // A recording rule follows at the next evaluation after the scrape.
  EXPECT_TRUE(WaitUntil([&] { return query("instance:vemo_map_server_running:sum") == "3"; }, 20000, 500))
      << query("instance:vemo_map_server_running:sum");

  // The hung map fires, within 90 s of the start, and only it.
  std::string alerts;
  auto firing = [&] {
    alerts = RunCommand("/usr/bin/python3 " + machine.Dir() + "alerts.py " + web + " 2>&1").output;
    return alerts.find("VemoMapNotRunning 42 firing Bravo") != std::string::npos;
  };
  ASSERT_TRUE(WaitUntil(firing, 80000, 1000)) << alerts << ReadFile(machine.Dir() + "prometheus.out");
  EXPECT_EQ(query("vemo_map_state{map_id=\"42\"}"), "0") << "its record reads \"Not Exist!\"";
  std::set<std::string> lines;
  // Map alerts only: the manager has no status server here, so its link alert is due.
  for (const std::string& line : SplitLines(alerts))
    if (line.rfind("VemoMap", 0) == 0) lines.insert(line);
  EXPECT_EQ(lines, std::set<std::string>{"VemoMapNotRunning 42 firing Bravo"}) << alerts;
}

}  // namespace
