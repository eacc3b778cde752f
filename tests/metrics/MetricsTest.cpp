// The /metrics page read back with the Prometheus client's own text parser: every figure of
// the records and of the manager, labels that survive quotes, line feeds and GBK names,
// and the page served over HTTP from its own thread.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sys/time.h>

#include <cstdio>
#include <map>
#include <memory>

#include "launch/LaunchTestSupport.h"
#include "metrics/MetricsServer.h"
#include "support/ChildProgram.h"
#include "support/FreePort.h"

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

// A connected loopback socket (receives time out after `timeoutMs`), or -1.
int Connect(int port, int timeoutMs = 3000) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Sends `request` on a new connection and reads the answer until the server closes it or
// the receive times out.
std::string Exchange(int port, const std::string& request) {
  const int fd = Connect(port);
  if (fd < 0) return "connect failed";
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
    close(fd);
    return "send failed";
  }
  std::string answer;
  char chunk[65536];
  for (ssize_t got; (got = recv(fd, chunk, sizeof chunk, 0)) > 0;) answer.append(chunk, static_cast<std::size_t>(got));
  close(fd);
  return answer;
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
  machine.m_Dir.Write("MapServerData/Map/MapID.txt", "1\t" + machine.Server() +
                                                         "\tSay\"hi\"\\there\t1\t1\t500\t0\t0\t1\n" + "2\t" +
                                                         machine.Server() + "\t\xB5\xD8\xCD\xBC\t2\t1\t500\t0\t0\t1\n");
  MapServerLauncher& launcher = machine.Launcher();
  launcher.StartService();
  const double launchedAfter = static_cast<double>(time(nullptr));
  // The first map's server stops writing its figures once running, so that the page and the
  // record read later can be compared.
  setenv("VEMO_MS_FAULTS", "*:hang@0", 1);
  launcher.StartAllServers(false);
  ASSERT_TRUE(machine.WaitForState(0, msRunning));
  ASSERT_TRUE(machine.WaitUntilHung(0));
  // The second map's server is gone: its record stays, with figures of our own.
  tagMapServerData& second = machine.Record(1);
  ASSERT_TRUE(machine.WaitForState(1, msRunning));
  unsetenv("VEMO_MS_FAULTS");  // both servers were started by now
  const double runningBefore = static_cast<double>(time(nullptr)) + 1;
  launcher.KillProcess(*machine.maps.GetMapInfo(1));
  machine.maps.GetMapInfo(0)->SetActive(0);
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
  // Prometheus' own linter finds nothing to say (names, units, HELP and TYPE of every family).
  const CommandResult lint = RunCommand("promtool check metrics < " + machine.Dir() + "page.txt 2>&1");
  EXPECT_EQ(lint.exitCode, 0) << lint.output;
  EXPECT_EQ(lint.output, "") << lint.output;

  const std::string one = "map_id=1,name=Say\"hi\"\\there,server=" + machine.Server();
  const std::string two = "map_id=2,name=地图,server=" + machine.Server();
  EXPECT_EQ(samples["vemo_map_state|" + one], "3.0");
  EXPECT_EQ(samples["vemo_map_server_running|" + one], "1.0");
  EXPECT_EQ(samples["vemo_map_players|" + one], std::to_string(record::Load(machine.Record(0).PlayerCnt)) + ".0");
  EXPECT_GT(std::stod(samples["vemo_map_working_set_bytes|" + one]), 0.0);
  // The start time as the kernel knows it, and the status of the killed server (SIGKILL).
  const double started = std::stod(samples["vemo_map_server_start_time_seconds|" + one]);
  EXPECT_GE(started, launchedAfter - 1);
  EXPECT_LE(started, runningBefore);
  EXPECT_EQ(samples.count("vemo_map_server_start_time_seconds|" + two), 0u) << "no server runs";
  EXPECT_EQ(samples["vemo_map_server_last_exit_status|" + two], "137.0");
  EXPECT_EQ(samples.count("vemo_map_server_last_exit_status|" + one), 0u) << "never ended";
  EXPECT_EQ(samples["vemo_map_active|" + one], "0.0");
  EXPECT_EQ(samples["vemo_map_active|" + two], "1.0");
  EXPECT_EQ(samples["vemo_map_stop_requested|" + one], "0.0");
  EXPECT_EQ(samples["vemo_map_stop_requested|" + two], "1.0") << "killed by the manager";
  const auto build = samples.lower_bound("vemo_build_info|version=");
  ASSERT_NE(build, samples.end());
  EXPECT_GT(build->first.size(), std::string("vemo_build_info|version=").size()) << build->first;
  EXPECT_EQ(build->second, "1.0") << build->first;
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

// A machine of one map whose page is served on a free loopback port.
struct ServedMachine {
  explicit ServedMachine(const std::string& name) : machine(name) {
    machine.WriteMaps({{1, 1}});
    machine.Launcher().StartService();
    server = std::make_unique<MetricsServer>(machine.maps, machine.launcher.get(), figures);
    started = server->Start("127.0.0.1", port, error);
  }
  LaunchMachine machine;
  IManagerFigures figures;
  std::unique_ptr<MetricsServer> server;
  const int port = FreePort();
  std::string error;
  bool started = false;
};

TEST_F(MetricsTest, TheServerAnswersOnItsOwnThreadAndStops) {
  ServedMachine served("MetricsHttp");
  ASSERT_TRUE(served.started) << served.error;
  MetricsServer& server = *served.server;
  const int port = served.port;
  std::string error;
  MetricsServer second(served.machine.maps, nullptr, served.figures);
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

TEST_F(MetricsTest, ScrapesAreAnsweredWhileHundredsOfClientsHoldIdleOrHalfRequests) {
  ServedMachine served("MetricsIdle");
  ASSERT_TRUE(served.started) << served.error;
  const int port = served.port;

  // 300 clients hold connections: half say nothing, half send half a request.
  std::vector<int> idle;
  for (int i = 0; i < 300; ++i) {
    const int fd = Connect(port);
    ASSERT_GE(fd, 0) << i;
    if (i % 2 == 1) {
      const std::string half = "GET /metrics HTTP/1.1\r\nHost: idle\r\n";
      send(fd, half.data(), half.size(), MSG_NOSIGNAL);
    }
    idle.push_back(fd);
  }
  // A scrape is answered meanwhile (the receive would time out after 3 s), twice on one
  // kept connection as Prometheus scrapes.
  const std::string scrape = "GET /metrics HTTP/1.1\r\nHost: prometheus\r\n\r\n";
  const int kept = Connect(port);
  ASSERT_GE(kept, 0);
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(send(kept, scrape.data(), scrape.size(), MSG_NOSIGNAL), static_cast<ssize_t>(scrape.size()));
    std::string answer;
    char chunk[65536];
    while (answer.find("\nvemo_maps 1\n") == std::string::npos) {
      const ssize_t got = recv(kept, chunk, sizeof chunk, 0);
      ASSERT_GT(got, 0) << "round " << round << ": " << answer;
      answer.append(chunk, static_cast<std::size_t>(got));
    }
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer.substr(0, 200);
  }
  close(kept);

  // An oversized header is refused and the connection closed; other paths and methods get
  // their answers; a header without a request line gets 400.
  EXPECT_EQ(Exchange(port, "GET /metrics HTTP/1.1\r\nX-Big: " + std::string(16384, 'x') + "\r\n\r\n")
                .rfind("HTTP/1.1 431 ", 0),
            0u);
  EXPECT_EQ(Exchange(port, "GET /other HTTP/1.1\r\nConnection: close\r\n\r\n").rfind("HTTP/1.1 404 ", 0), 0u);
  EXPECT_EQ(Exchange(port, "POST /metrics HTTP/1.1\r\nConnection: close\r\n\r\n").rfind("HTTP/1.1 405 ", 0), 0u);
  EXPECT_EQ(Exchange(port, "garbage\r\n\r\n").rfind("HTTP/1.1 400 ", 0), 0u);
  const std::string head = Exchange(port, "HEAD /metrics HTTP/1.0\r\n\r\n");
  EXPECT_EQ(head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_EQ(head.find("vemo_maps"), std::string::npos) << "no body to a HEAD";
  for (int fd : idle) close(fd);
}

}  // namespace
