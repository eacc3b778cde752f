// A start pass over 600 and over 2,000 maps with the real map server program:
//  - the floor: spawning the same programs with posix_spawn, waiting for nothing;
//  - the pass: the start worker launching all of them (clearing each record, starting it,
//    sending the start-all message once its window exists), and the time until every
//    record shows "Running" (map servers told to skip their start-up phases);
//  - the refresh timer meanwhile: a 100 ms Qt timer on the bench's main thread, as on the
//    window thread, running the heartbeat rule and the reaping of ended map servers, with
//    the map list's sampler thread reading every map's CPU and memory once a second; its lateness p99, beside the
//    lateness p99 of a control: a bare 100 ms timer on a thread that does nothing else, so that what the scheduler
//    alone costs shows apart from what the manager's work costs;
//  - the resident memory of the launching process with the maps running, and of the real
//    manager with the maps running.
// Run the floor and the pass of one size in one run, so that they meet the same machine.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/ManagerMachine.h"
#include "components/LogComponent.h"
#include "interfaces/SilentLog.h"
#include "launch/LaunchTestSupport.h"
#include "platform/process.h"
#include "registry/AShareStructObj.h"

extern char** environ;

namespace {

// A timer period, as the bench's refresh timer's.
constexpr int kTickMs = 100;

// A bare timer on a thread of its own: absolute deadlines every kTickMs, lateness noted.
class ControlTimer {
 public:
  ControlTimer()
      : m_Thread([this] {
          timespec next{};
          clock_gettime(CLOCK_MONOTONIC, &next);
          while (!m_Stop.load()) {
            next.tv_nsec += kTickMs * 1000000L;
            next.tv_sec += next.tv_nsec / 1000000000L;
            next.tv_nsec %= 1000000000L;
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const double late = static_cast<double>(now.tv_sec - next.tv_sec) * 1e3 +
                                static_cast<double>(now.tv_nsec - next.tv_nsec) / 1e6;
            m_Lateness.push_back(std::max(0.0, late));
          }
        }) {}
  // Stops the timer; the lateness p99 in milliseconds.
  double StopP99() {
    m_Stop.store(true);
    m_Thread.join();
    std::sort(m_Lateness.begin(), m_Lateness.end());
    return m_Lateness.empty() ? 0 : m_Lateness[m_Lateness.size() * 99 / 100];
  }

 private:
  std::vector<double> m_Lateness;
  std::atomic<bool> m_Stop{false};
  std::thread m_Thread;
};

double ResidentMegabytesOf(uint32_t pid) {
  platform::MemoryCounters counters;
  platform::GetMemoryCounters(pid, &counters);
  return static_cast<double>(counters.WorkingSetSize) / 1024.0 / 1024.0;
}

double ResidentMegabytes() { return ResidentMegabytesOf(platform::CurrentProcessId()); }

void KillAll(const std::vector<pid_t>& pids) {
  for (pid_t pid : pids) kill(pid, SIGKILL);
  for (pid_t pid : pids) waitpid(pid, nullptr, 0);
}

void BM_SpawnFloor(benchmark::State& state) {
  const int mapCount = static_cast<int>(state.range(0));
  LaunchMachine machine("BenchFloor");
  for (auto _ : state) {
    std::vector<pid_t> pids;
    const std::string program = machine.mapDataDir + "VemoMapServer";
    QElapsedTimer timer;
    timer.start();
    for (int id = 1; id <= mapCount; ++id) {
      const std::string key = machine.Server() + "_" + std::to_string(id);
      std::vector<std::string> args = {program, key, "0", "0", machine.mapDataDir + "Script/", "MapManager"};
      std::vector<char*> argv;
      for (auto& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      pid_t pid = 0;
      if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) == 0) pids.push_back(pid);
    }
    state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
    state.counters["per_map_ms"] = static_cast<double>(timer.nsecsElapsed()) / 1e6 / mapCount;
    KillAll(pids);
  }
}

void BM_StartPass(benchmark::State& state) {
  const int mapCount = static_cast<int>(state.range(0));
  LaunchMachine machine("BenchPass");
  std::vector<std::pair<int, int>> maps;
  for (int id = 1; id <= mapCount; ++id) maps.push_back({id, 1});
  machine.WriteMaps(maps);
  MapServerLauncher& launcher = machine.Launcher();
  launcher.StartService();
  const double idleMb = ResidentMegabytes();

  for (auto _ : state) {
    std::vector<double> lateness;
    QElapsedTimer sinceTick, total;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(kTickMs);
    QObject::connect(&tick, &QTimer::timeout, [&] {
      lateness.push_back(std::max<double>(0, static_cast<double>(sinceTick.nsecsElapsed()) / 1e6 - kTickMs));
      sinceTick.restart();
      launcher.ApplyHeartbeatRule();
      machine.maps.StartSampler();
      launcher.ReapEndedServers();
    });
    ControlTimer control;
    const uint32_t passes = launcher.GetStartPassCount();
    total.start();
    sinceTick.start();
    tick.start();
    launcher.StartAllServers(false);
    double passMs = 0, runningMs = 0;
    // The main thread waits in its event loop, as the window thread does, looking at the
    // records every 20 ms.
    QEventLoop loop;
    QTimer check;
    check.setInterval(20);
    QObject::connect(&check, &QTimer::timeout, [&] {
      if (passMs == 0 && launcher.GetStartPassCount() > passes)
        passMs = static_cast<double>(total.nsecsElapsed()) / 1e6;
      bool all = passMs != 0;
      for (int i = 0; all && i < mapCount; ++i) all = record::State(machine.Record(i)) == msRunning;
      if (all) loop.quit();
      if (total.elapsed() > 120000) {
        state.SkipWithError("not all map servers reached Running within 120 s");
        loop.quit();
      }
    });
    check.start();
    loop.exec();
    runningMs = static_cast<double>(total.nsecsElapsed()) / 1e6;
    tick.stop();
    const double controlP99 = control.StopP99();
    std::sort(lateness.begin(), lateness.end());
    state.SetIterationTime(passMs / 1e3);
    state.counters["pass_ms"] = passMs;
    state.counters["pass_per_map_ms"] = passMs / mapCount;
    state.counters["all_running_ms"] = runningMs;
    state.counters["tick_late_p99_ms"] = lateness.empty() ? 0 : lateness[lateness.size() * 99 / 100];
    state.counters["control_late_p99_ms"] = controlP99;
    state.counters["ticks"] = static_cast<double>(lateness.size());
    state.counters["rss_idle_MB"] = idleMb;
    state.counters["rss_running_MB"] = ResidentMegabytes();
    machine.KillMapServers();
  }
}

// The real manager with a list of 600 or 2,000 maps, started from its directory with
// "-autolaunch" and its service started by the launch-control client: its resident memory
// once all map servers run.
void BM_ManagerResidentMemory(benchmark::State& state) {
  const int mapCount = static_cast<int>(state.range(0));
  for (auto _ : state) {
    ManagerMachine machine;
    const std::string server = UniqueName("BenchManager");
    std::string list;
    for (int id = 1; id <= mapCount; ++id)
      list +=
          std::to_string(id) + " " + server + " Map" + std::to_string(id) + " " + std::to_string(id) + " 1 500 0 0 1\n";
    std::ofstream(machine.Dir() + "MapServerData/Map/MapID.txt") << list;
    machine.WriteIni("[MapManager]\nedtMutexSign=\n");
    // Launch control is loaded from the current directory: the manager starts from its own.
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(machine.Dir());
    const pid_t manager = machine.Start({"-autolaunch"});
    std::filesystem::current_path(here);
    if (!machine.WaitForLog("FormCreate done")) {
      state.SkipWithError("the manager did not start");
      break;
    }
    const double idleMb = ResidentMegabytesOf(static_cast<uint32_t>(manager));
    int exitCode = -1;
    const std::string client = machine.Dir() + "HalvixClient --manager " + std::to_string(manager) + " start";
    platform::RunShellCommand(client, machine.Dir(), &exitCode);

    std::vector<std::unique_ptr<AShareStructObj<tagMapServerData>>> records;
    for (int id = 1; id <= mapCount; ++id)
      records.push_back(
          std::make_unique<AShareStructObj<tagMapServerData>>(server + "_" + std::to_string(id) + "_Config"));
    const bool running = WaitUntil(
        [&] {
          for (auto& r : records)
            if (r->GetData() == nullptr || record::State(*r->GetData()) != msRunning) return false;
          return true;
        },
        180000);
    state.counters["client_exit"] = exitCode;
    state.counters["rss_idle_MB"] = idleMb;
    state.counters["rss_running_MB"] = ResidentMegabytesOf(static_cast<uint32_t>(manager));
    if (!running) state.SkipWithError("not all map servers reached Running");
    kill(manager, SIGTERM);
    machine.WaitExit(manager);
    for (auto& r : records) {
      if (r->GetData() == nullptr) continue;
      const uint32_t pid = record::ProcessId(*r->GetData());
      if (pid != 0) kill(static_cast<pid_t>(pid), SIGKILL);
    }
  }
}

BENCHMARK(BM_ManagerResidentMemory)->Arg(600)->Arg(2000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpawnFloor)->Arg(600)->Arg(2000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartPass)->Arg(600)->Arg(2000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  platform::RaiseOpenFileLimit();
  TempDir logDir;
  setenv("VEMO_LOG_DIR", logDir.Path().c_str(), 1);
  setenv("VEMO_MS_PHASE_MS", "0", 1);
  SilentLog log;
  SetLogObjectForTesting(&log);
  if (!LoadGameDataComponent("Pellwyn.dll")) return 1;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  UnloadGameDataComponent();
  return 0;
}
