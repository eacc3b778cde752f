// The /metrics page read back with the Prometheus client's own text parser: every figure of
// the records and of the manager, labels that survive quotes, line feeds and GBK names,
// and the page served over HTTP from its own thread.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <map>

#include "support/ChildProgram.h"
#include "support/FreePort.h"
#include "launch/LaunchTestSupport.h"
#include "metrics/MetricsServer.h"

namespace {

// "name|labels|value" lines of the parser, or the parser's complaint.
std::map<std::string, std::string> Parse(const std::string& source, std::string* contentType = nullptr) {
  std::map<std::string, std::string> samples;
  const CommandResult parser = RunCommand("/usr/bin/python3 " PARSE_METRICS " '" + source + "'");
  for (const std::string& text : SplitLines(parser.output)) {
    const std::size_t last = text.rfind('|');
    if (text.rfind("content-type|", 0) == 0) {
      if (contentType != nullptr) *contentType = text.substr(13);
    } else if (last == std::string::npos) {
      samples["error"] += text;
    } else {
      samples[text.substr(0, last)] = text.substr(last + 1);
    }
  }
  if (parser.exitCode != 0) samples["error"] += " (parser failed)";
  return samples;
}

class MetricsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { SetUpLaunchSuite(); }
  static void TearDownTestSuite() { UnloadGameDataComponent(); }
  RecordingLog m_Log;
};

class Figures : public IManagerFigures {
 public:
  bool StatusLinkConnected() override { return true; }
  uint64_t StatusRequestsAnswered() override { return 42; }
  int ScriptQueueDepth() override { return 3; }
};

TEST_F(MetricsTest, ThePageParsesAndMatchesTheRecordsAndTheManager) {
  LaunchMachine machine("Metrics");
  // Display names with a quote, a backslash and a GBK name ("地图" in code page 936).
  machine.m_Dir.Write("MapServerData/Map/MapID.txt",
                      "1\t" + machine.Server() + "\tSay\"hi\"\\there\t1\t1\t500\t0\t0\t1\n" +
                      "2\t" + machine.Server() + "\t\xB5\xD8\xCD\xBC\t2\t1\t500\t0\t0\t1\n");
  MapServerLauncher& launcher = machine.Launcher();
  launcher.StartService();
  launcher.StartAllServers(false);
  ASSERT_TRUE(machine.WaitForState(0, msRunning));
  // The second map's server is gone: its record stays, with figures of our own.
  tagMapServerData& second = machine.Record(1);
  ASSERT_TRUE(machine.WaitForState(1, msRunning));
  launcher.KillProcess(*machine.maps.GetMapInfo(1));
  record::Store(second.PlayerCnt, -7);
  record::Store(second.MaxPlayerCnt, 500);
  record::Store(second.ItemCnt, 12345);
  record::Store(second.FPS, 25);
  record::SetState(second, msCppError);
  record::Store(second.HeartBeat, -3);

  // The refresh tick's memory sample, which the page reports.
  for (int i = 0; i < machine.maps.GetMapInfoCount(); ++i) machine.maps.GetMapInfo(i)->SampleMemory();
  Figures figures;
  std::string page;
  {
    auto reading = machine.maps.ReadLock();
    page = BuildMetricsText(machine.maps, &launcher, figures);
  }
  machine.m_Dir.Write("page.txt", page);
  auto samples = Parse(machine.Dir() + "page.txt");
  ASSERT_EQ(samples.count("error"), 0u) << samples["error"] << "\n" << page;

  const std::string one = "map_id=1,name=Say\"hi\"\\there,server=" + machine.Server();
  const std::string two = "map_id=2,name=地图,server=" + machine.Server();
  EXPECT_EQ(samples["vemo_map_state|" + one], "3.0");
  EXPECT_EQ(samples["vemo_map_server_running|" + one], "1.0");
  EXPECT_EQ(samples["vemo_map_players|" + one],
            std::to_string(record::Load(machine.Record(0).PlayerCnt)) + ".0");
  EXPECT_GT(std::stod(samples["vemo_map_working_set_bytes|" + one]), 0.0);
  EXPECT_EQ(samples["vemo_map_state|" + two], "5.0");
  EXPECT_EQ(samples["vemo_map_heartbeat|" + two], "-3.0");
  EXPECT_EQ(samples["vemo_map_server_running|" + two], "0.0");
  EXPECT_EQ(samples["vemo_map_players|" + two], "-7.0");
  EXPECT_EQ(samples["vemo_map_max_players|" + two], "500.0");
  EXPECT_EQ(samples["vemo_map_items|" + two], "12345.0");
  EXPECT_EQ(samples["vemo_map_fps|" + two], "25.0");
  EXPECT_EQ(samples["vemo_map_restarts_total|map_id=2,name=地图,reason=exited,server=" + machine.Server()], "0.0");
  EXPECT_EQ(samples["vemo_maps|"], "2.0");
  EXPECT_EQ(samples["vemo_status_link_connected|"], "1.0");
  EXPECT_EQ(samples["vemo_status_requests_answered_total|"], "42.0");
  EXPECT_EQ(samples["vemo_script_queue_depth|"], "3.0");
  EXPECT_GT(std::stod(samples["process_resident_memory_bytes|"]), 1e6);
  EXPECT_EQ(samples.count("vemo_start_pass_duration_seconds|"), 1u);
}

TEST_F(MetricsTest, TheServerAnswersOnItsOwnThreadAndStops) {
  LaunchMachine machine("MetricsHttp");
  machine.WriteMaps({{1, 1}});
  machine.Launcher().StartService();
  IManagerFigures figures;
  MetricsServer server(machine.maps, machine.launcher.get(), figures);
  const int port = FreePort();
  std::string error;
  ASSERT_TRUE(server.Start("127.0.0.1", port, error)) << error;
  MetricsServer second(machine.maps, nullptr, figures);
  EXPECT_FALSE(second.Start("127.0.0.1", port, error)) << "two servers on one port";
  EXPECT_NE(error.find(std::to_string(port)), std::string::npos);

  std::string contentType;
  auto samples = Parse("http://127.0.0.1:" + std::to_string(port) + "/metrics", &contentType);
  ASSERT_EQ(samples.count("error"), 0u) << samples["error"];
  EXPECT_EQ(contentType, "text/plain; version=0.0.4; charset=utf-8");
  EXPECT_EQ(samples["vemo_maps|"], "1.0");
  server.Stop();
  EXPECT_FALSE(server.IsRunning());
  EXPECT_NE(Parse("http://127.0.0.1:" + std::to_string(port) + "/metrics").count("error"), 0u);
}

}  // namespace
