// One scrape of /metrics with 600 maps: building the page under the read lock, and the
// whole HTTP round trip to the server's own thread. The page size is reported too.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include "components/LogComponent.h"
#include "interfaces/SilentLog.h"
#include "launch/LaunchTestSupport.h"
#include "metrics/MetricsServer.h"

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

void BM_ScrapeOverHttp(benchmark::State& state) {
  Machine machine;
  MetricsServer server(machine.launch.maps, machine.launch.launcher.get(), machine.figures);
  std::string error;
  const int port = 29187;
  if (!server.Start("127.0.0.1", port, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
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

BENCHMARK(BM_BuildMetricsText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScrapeOverHttp)->Unit(benchmark::kMillisecond)->UseRealTime();

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
