// The status link's costs: building and sending the base information reply for 600 maps
// (without processes, and with 600 live ones whose memory the refresh tick has sampled),
// the request thread's CPU share while connected and idle, and GetErrorLog of a 64 MiB log
// against zlib's compress2 at level 9 on the same bytes, with the memory it takes.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <atomic>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "components/LogComponent.h"
#include "interfaces/MMORPGPacket.h"
#include "interfaces/SilentLog.h"
#include "interfaces/StatusWire.h"
#include "platform/process.h"
#include "statuslink/CSSLogicProcess.h"
#include "statuslink/NetCore.h"
#include "statuslink/StatusLinkControl.h"
#include "statuslink/StatusLinkTestSupport.h"  // tests/statuslink: the in-memory test helpers

using namespace statuslink_test;

namespace {

// The core in memory: connected at once, nothing to receive, and only the last message
// sent kept, its buffers reused as a transport reuses its frame buffer.
FakeTiravo g_Core(1);

class BenchLog : public SilentLog {
 public:
  const char* ErrorLogPath() override { return path.c_str(); }
  std::string path;
};

BenchLog& Log() {
  static BenchLog* log = [] {
    auto* made = new BenchLog;
    SetLogObjectForTesting(made);
    InstallCore(&g_Core);
    return made;
  }();
  return *log;
}

void Handle(StatusLinkControl& control, const std::string& body) {
  MMORPG::MMORPGPacket_Stack packet;
  const std::string head = RequestHead(7);
  packet.SetHead(head.data(), 9);
  packet.ReadData(body.data(), static_cast<int>(body.size()));
  StatusLinkControl::OnStatusPack(&control, &packet);
}

// ---------------------------------------------------------------------------------------
// The base information reply

void BM_BaseInfoReply(benchmark::State& state) {
  Log();
  const int count = static_cast<int>(state.range(0));
  const bool live = state.range(1) != 0;
  TestMaps maps(UniqueServer("Bench"));
  for (int i = 0; i < count; ++i) maps.Add(i + 1, "Map " + std::to_string(i + 1));
  maps.Load();
  std::vector<int> handles;
  for (int i = 0; i < maps.maps.GetMapInfoCount(); ++i) {
    tagMapServerData& record = maps.Record(i);
    record.State = i % 50 == 0 ? msPythonError : msRunning;
    record.PlayerCnt = i;
    record.FPS = 25;
    std::snprintf(record.MsgText, sizeof record.MsgText, "Traceback: map %d raised", i);
    if (!live) continue;
    platform::ProcessInformation info;
    int error = 0;
    if (!platform::StartProcess("/bin/sleep 600", "", false, &info, &error)) break;
    maps.maps.GetMapInfo(i)->SetProcessInfo(info);
    handles.push_back(info.ProcessHandle);
  }
  // The refresh tick's first sample: the reply reports these memory figures.
  maps.maps.SampleCpu();
  int sampled = 0;
  for (int i = 0; i < maps.maps.GetMapInfoCount(); ++i)
    if (maps.maps.GetMapInfo(i)->GetMemoryCounters().WorkingSetSize > 0) ++sampled;
  GetSSLogicProcess()->SetServerInfo("MapServer", 6, 1);
  StatusLinkControl::Settings settings;
  settings.Maps = &maps.maps;
  StatusLinkControl control(settings);
  const std::string request = BaseInfoRequest();
  for (auto _ : state) Handle(control, request);
  state.counters["maps"] = count;
  state.counters["processes"] = static_cast<double>(handles.size());
  state.counters["memory_sampled"] = sampled;
  state.counters["reply_bytes"] = static_cast<double>(g_Core.LastSize());
  for (int handle : handles)
    if (platform::TerminateProcess(handle, -1)) platform::WaitForProcess(handle, 5000, nullptr);
}
BENCHMARK(BM_BaseInfoReply)->Args({600, 0})->Args({600, 1})->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------
// The request thread while connected and idle

// One idle pass of the request thread's work, without its 2 ms rest.
void BM_RequestPassIdle(benchmark::State& state) {
  Log();
  CSSLogicProcess* link = GetSSLogicProcess();
  for (auto _ : state) benchmark::DoNotOptimize(link->RunRequestPass(NetCore()));
}
BENCHMARK(BM_RequestPassIdle);

uint64_t ProcessCpu100ns() {
  platform::CpuTimes times;
  platform::GetProcessTimes(platform::CurrentProcessId(), &times);
  return times.Kernel + times.User;
}

void BM_RequestThreadIdle(benchmark::State& state) {
  Log();
  CSSLogicProcess* link = GetSSLogicProcess();
  link->SetServerInfo("MapServer", 6, 1);
  link->Start(false);
  link->Resume();
  platform::SleepMs(200);
  double share = 0;
  for (auto _ : state) {
    const uint64_t before = ProcessCpu100ns();
    const auto start = std::chrono::steady_clock::now();
    platform::SleepMs(3000);  // this thread sleeps: the process's CPU is the request thread's
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    share = static_cast<double>(ProcessCpu100ns() - before) / 1e7 / wall * 100;
  }
  link->Stop();
  link->ReleaseLink();
  state.counters["cpu_percent_of_one_core"] = share;
}
BENCHMARK(BM_RequestThreadIdle)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---------------------------------------------------------------------------------------
// GetErrorLog of a 64 MiB log

constexpr std::size_t kLogSize = 64u << 20;

const std::string& LogDir() {
  static TempDir dir;
  static bool written = [] {
    std::mt19937 random(11);
    const char* const levels[] = {"[ Info]", "[ Warn]", "[Error]", "[Debug]"};
    const char* const words[] = {"map",  "player", "heartbeat", "lost",    "script", "save",
                                 "item", "npc",    "timeout",   "connect", "fight",  "quest"};
    std::ofstream out(dir.Path() + "big.log", std::ios::binary);
    std::size_t written = 0;
    char line[256];
    while (written < kLogSize) {
      int n = std::snprintf(line, sizeof line, "2024-05-%02lu %02lu:%02lu:%02lu.%03lu %s %s %s %lu %s %lu\n",
                            1 + random() % 28, random() % 24, random() % 60, random() % 60, random() % 1000,
                            levels[random() % 4], words[random() % 12], words[random() % 12], random() % 5000,
                            words[random() % 12], random());
      n = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(n), kLogSize - written));
      out.write(line, n);
      written += static_cast<std::size_t>(n);
    }
    return true;
  }();
  (void)written;
  return dir.Path();
}

// Resident memory of this process (kB), anonymous and file-backed, from /proc.
void ResidentKb(long* anon, long* file) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("RssAnon:", 0) == 0) *anon = std::stol(line.substr(8));
    if (line.rfind("RssFile:", 0) == 0) *file = std::stol(line.substr(8));
  }
}

// Samples the resident memory every millisecond while `work` runs; the peaks above the
// start, in MiB.
template <typename Work>
void PeakMemory(Work work, double* anonMiB, double* fileMiB) {
  long anon0 = 0, file0 = 0;
  ResidentKb(&anon0, &file0);
  std::atomic<bool> done{false};
  long anonPeak = anon0, filePeak = file0;
  std::thread sampler([&] {
    while (!done.load()) {
      long anon = 0, file = 0;
      ResidentKb(&anon, &file);
      anonPeak = std::max(anonPeak, anon);
      filePeak = std::max(filePeak, file);
      platform::SleepMs(1);
    }
  });
  work();
  done = true;
  sampler.join();
  *anonMiB = static_cast<double>(anonPeak - anon0) / 1024;
  *fileMiB = static_cast<double>(filePeak - file0) / 1024;
}

void BM_GetErrorLog64MiB(benchmark::State& state) {
  Log().path = LogDir();
  TestMaps maps(UniqueServer("BenchLog"));
  StatusLinkControl::Settings settings;
  settings.Maps = &maps.maps;
  StatusLinkControl control(settings);
  const std::string request = statuswire::CommonCmdBody("GetErrorLog", "big.log");
  const bool measureMemory = state.range(0) != 0;
  double anon = 0, file = 0;
  for (auto _ : state) {
    if (measureMemory)
      PeakMemory([&] { Handle(control, request); }, &anon, &file);
    else
      Handle(control, request);
  }
  state.counters["file_MiB"] = static_cast<double>(kLogSize) / (1 << 20);
  state.counters["reply_MiB"] = static_cast<double>(g_Core.LastSize()) / (1 << 20);
  if (measureMemory) {
    // The heap peak includes the test core's copy of the reply as it "sends" it.
    state.counters["peak_heap_MiB"] = anon;
    state.counters["peak_mapped_file_MiB"] = file;
  }
}
// Timed alone (the memory sampler's own reads of /proc would count as CPU time), then once
// with the sampler.
BENCHMARK(BM_GetErrorLog64MiB)->Arg(0)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GetErrorLog64MiB)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Compress2Level9Of64MiB(benchmark::State& state) {
  std::ifstream in(LogDir() + "big.log", std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  const std::string data = content.str();
  std::string out(compressBound(static_cast<uLong>(data.size())), '\0');
  uLongf length = 0;
  for (auto _ : state) {
    length = static_cast<uLongf>(out.size());
    compress2(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(data.data()),
              static_cast<uLong>(data.size()), 9);
  }
  state.counters["file_MiB"] = static_cast<double>(data.size()) / (1 << 20);
  state.counters["stream_MiB"] = static_cast<double>(length) / (1 << 20);
}
BENCHMARK(BM_Compress2Level9Of64MiB)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
