// The map list: loading 600 and 2,000 maps through the real game data component, with
// segments created fresh and with segments that another holder keeps (reopened); and one
// CPU sampling tick over 600 live processes.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../support/TickingClock.h"
#include "components/GameDataComponent.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "registry/MapServerInfoManager.h"

namespace {

// A temporary directory for the map lists and the component's log, removed at exit.
class BenchDir {
 public:
  BenchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vemo-bench-registry-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    m_Path = made ? std::string(made) + "/" : "/tmp/";
    setenv("VEMO_LOG_DIR", m_Path.c_str(), 1);
  }
  ~BenchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_Path, ignored);
  }
  const std::string& Path() const { return m_Path; }

 private:
  std::string m_Path;
};

BenchDir& Dir() {
  static BenchDir dir;
  return dir;
}

// A map list of `count` maps with mixed sort keys, written once per size.
std::string MapList(int count) {
  std::string path = Dir().Path() + "MapID_" + std::to_string(count) + ".txt";
  if (!std::filesystem::exists(path)) {
    std::ofstream file(path);
    std::string server = "Bench" + std::to_string(platform::CurrentProcessId());
    for (int id = 1; id <= count; ++id)
      file << id << '\t' << server << "\tMap" << id << '\t' << (id * 7919) % 97 << "\t1\t500\t0\t0\t1\n";
  }
  return path;
}

bool LoadComponent() {
  static bool loaded = LoadGameDataComponent("Pellwyn.dll");
  return loaded;
}

void BM_LoadMapListFresh(benchmark::State& state) {
  if (!LoadComponent()) return state.SkipWithError("Pellwyn.dll not loaded");
  std::string path = MapList(static_cast<int>(state.range(0)));
  MapServerInfoManager manager(1);
  for (auto _ : state) {
    manager.LoadMapList(0, path, false);  // the previous list's segments ended with it
    benchmark::DoNotOptimize(manager.GetMapInfoCount());
  }
  state.counters["maps"] = manager.GetMapInfoCount();
}
BENCHMARK(BM_LoadMapListFresh)->Arg(600)->Arg(2000)->Unit(benchmark::kMillisecond);

void BM_LoadMapListReopened(benchmark::State& state) {
  if (!LoadComponent()) return state.SkipWithError("Pellwyn.dll not loaded");
  std::string path = MapList(static_cast<int>(state.range(0)));
  MapServerInfoManager holder(1);  // plays the running map servers: keeps every segment
  holder.LoadMapList(0, path, false);
  MapServerInfoManager manager(1);
  for (auto _ : state) {
    manager.LoadMapList(0, path, false);
    benchmark::DoNotOptimize(manager.GetMapInfoCount());
  }
  state.counters["maps"] = manager.GetMapInfoCount();
}
BENCHMARK(BM_LoadMapListReopened)->Arg(600)->Arg(2000)->Unit(benchmark::kMillisecond);

void BM_SampleCpu(benchmark::State& state) {
  if (!LoadComponent()) return state.SkipWithError("Pellwyn.dll not loaded");
  const int count = static_cast<int>(state.range(0));
  MapServerInfoManager manager(1);
  manager.LoadMapList(0, MapList(count), false);
  std::vector<uint32_t> pids;
  for (int i = 0; i < manager.GetMapInfoCount(); ++i) {
    platform::ProcessInformation info;
    int errorCode = 0;
    if (!platform::StartProcess("/bin/sleep 600", "", false, &info, &errorCode)) break;
    manager.GetMapInfo(i)->SetProcessInfo(info);
    pids.push_back(info.ProcessId);
  }
  TickingClock clock;
  platform::SetClockForTesting(&clock);
  manager.SampleCpu();
  manager.SampleCpu();  // every process has its first sample now
  for (auto _ : state) manager.SampleCpu();
  platform::SetClockForTesting(nullptr);
  state.counters["processes"] = static_cast<double>(pids.size());

  for (int i = 0; i < manager.GetMapInfoCount(); ++i) {
    int handle = manager.GetMapInfo(i)->GetProcessInfo().ProcessHandle;
    if (handle != 0 && platform::TerminateProcess(handle, -1)) platform::WaitForProcess(handle, 5000, nullptr);
  }
}
BENCHMARK(BM_SampleCpu)->Arg(600)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
