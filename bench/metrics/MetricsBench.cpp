// One scrape of /metrics with 600 maps: building the page under the read lock, and the
// whole HTTP round trip to the server's own thread. The page size is reported too. Then the
// same scrape while 0, 100 or 1,000 other clients hold connections, half of them idle and
// half sending a request one byte every 2 s: the scrape must stay well under 1 s, and the
// manager's resident memory growth is reported.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "components/LogComponent.h"
#include "interfaces/SilentLog.h"
#include "launch/LaunchTestSupport.h"
#include "metrics/MetricsServer.h"
#include "support/FreePort.h"

namespace {

constexpr int kMaps = 600;

struct Machine {
  Machine() : launch("BenchMetrics") {
    std::vector<std::pair<int, int>> maps;
    for (int id = 1; id <= kMaps; ++id) maps.push_back({id, 1});
    launch.WriteMaps(maps);
    launch.Launcher().StartService();
    for (int i = 0; i < kMaps; ++i) {
      record::SetState(launch.Record(i), msRunning);
      record::Store(launch.Record(i).PlayerCnt, i);
    }
  }
  LaunchMachine launch;
  IManagerFigures figures;
};

void BM_BuildMetricsText(benchmark::State& state) {
  Machine machine;
  std::size_t size = 0;
  for (auto _ : state) {
    auto reading = machine.launch.maps.ReadLock();
    const std::string page = BuildMetricsText(machine.launch.maps, machine.launch.launcher.get(), machine.figures);
    size = page.size();
    benchmark::DoNotOptimize(page.data());
  }
  state.counters["page_KiB"] = static_cast<double>(size) / 1024.0;
}

// The machine's page served on a free loopback port.
struct ServedMachine : Machine {
  ServedMachine() { started = server.Start("127.0.0.1", port, error); }
  MetricsServer server{launch.maps, launch.launcher.get(), figures};
  const int port = FreePort();
  std::string error;
  bool started = false;
};

void BM_ScrapeOverHttp(benchmark::State& state) {
  ServedMachine machine;
  if (!machine.started) {
    state.SkipWithError(machine.error.c_str());
    return;
  }
  const int port = machine.port;
  httplib::Client client("127.0.0.1", port);
  std::size_t size = 0;
  for (auto _ : state) {
    auto response = client.Get("/metrics");
    if (!response || response->status != 200) {
      state.SkipWithError("scrape failed");
      break;
    }
    size = response->body.size();
  }
  state.counters["page_KiB"] = static_cast<double>(size) / 1024.0;
}

// Resident memory of this process (the server's) in bytes.
double ResidentBytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) * 1024.0;
  return 0;
}

// Clients that hold connections: the even ones say nothing, the odd ones send a request
// one byte every 2 s and never finish it.
class Loiterers {
 public:
  Loiterers(int port, int count) {
    for (int i = 0; i < count; ++i) {
      const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<uint16_t>(port));
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        (i % 2 == 0 ? m_Idle : m_Slow).push_back(fd);
      else
        close(fd);
    }
    m_Thread = std::thread([this] {
      const std::string request = "GET /metrics HTTP/1.1\r\nHost: slow\r\nX-Pad: " + std::string(4000, 'p');
      for (std::size_t at = 0; !m_Stop.load(); at = (at + 1) % request.size()) {
        for (int fd : m_Slow) send(fd, &request[at], 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        for (int i = 0; i < 20 && !m_Stop.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
  }
  ~Loiterers() {
    m_Stop.store(true);
    m_Thread.join();
    for (int fd : m_Idle) close(fd);
    for (int fd : m_Slow) close(fd);
  }
  std::size_t Connected() const { return m_Idle.size() + m_Slow.size(); }

 private:
  std::vector<int> m_Idle, m_Slow;
  std::atomic<bool> m_Stop{false};
  std::thread m_Thread;
};

void BM_ScrapeWhileClientsLoiter(benchmark::State& state) {
  ServedMachine machine;
  if (!machine.started) {
    state.SkipWithError(machine.error.c_str());
    return;
  }
  const int port = machine.port;
  const double before = ResidentBytes();
  Loiterers loiterers(port, static_cast<int>(state.range(0)));
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(5, 0);
  double slowest = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    auto response = client.Get("/metrics");
    if (!response || response->status != 200) {
      state.SkipWithError("scrape failed");
      break;
    }
    slowest = std::max(slowest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  state.counters["clients"] = static_cast<double>(loiterers.Connected());
  state.counters["slowest_ms"] = slowest * 1000.0;
  state.counters["rss_growth_MiB"] = (ResidentBytes() - before) / (1024.0 * 1024.0);
}

BENCHMARK(BM_BuildMetricsText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScrapeOverHttp)->Unit(benchmark::kMillisecond)->UseRealTime();
// At least 3 s each, so that the slow clients send while scrapes run.
BENCHMARK(BM_ScrapeWhileClientsLoiter)
    ->Arg(0)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
  TempDir logDir;
  setenv("VEMO_LOG_DIR", logDir.Path().c_str(), 1);
  SilentLog log;
  SetLogObjectForTesting(&log);
  platform::RaiseOpenFileLimit();
  if (!LoadGameDataComponent("Pellwyn.dll")) return 1;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  UnloadGameDataComponent();
  return 0;
}
