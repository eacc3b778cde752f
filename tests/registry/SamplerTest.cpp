// The map list's sampler thread: figures of real processes appear without the window
// thread sampling, while the list is rebuilt and maps receive new processes on other
// threads (run under ThreadSanitizer too).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "CMapFileLoader.h"
#include "registry/MapServerInfoManager.h"
#include "support/RecordingLog.h"
#include "support/TestSupport.h"

namespace {

// VmRSS of a process in bytes, read from /proc here.
uint64_t ResidentBytes(uint32_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
  return 0;
}

// Kills and reaps a process this test started; one that has ended already is left alone.
void EndProcess(uint32_t pid) {
  const int handle = platform::OpenProcessHandle(pid);
  if (handle == 0) return;
  platform::TerminateProcess(handle, -1);
  platform::WaitForProcess(handle, 5000, nullptr);
  platform::CloseProcessHandle(handle);
}

TEST(SamplerTest, FiguresComeFromTheSamplerWhileTheListAndItsProcessesChange) {
  RecordingLog log;
  TempDir dir;
  gamedata::CMapFileLoader loader;
  const std::string server = UniqueName("Sampler");
  std::string text;
  for (int id = 1; id <= 4; ++id)
    text += std::to_string(id) + " " + server + " M" + std::to_string(id) + " " + std::to_string(id) + " 1 500 0 0 1\n";
  const std::string path = dir.Write("MapID.txt", text);
  std::vector<uint32_t> started;
  std::mutex startedMutex;
  auto start = [&](const std::string& commandLine) {
    platform::ProcessInformation info;
    int error = 0;
    EXPECT_TRUE(platform::StartProcess(commandLine, "", false, &info, &error)) << error;
    std::lock_guard<std::mutex> lock(startedMutex);
    started.push_back(info.ProcessId);
    return info;
  };
  {
    MapServerInfoManager manager(2);
    ASSERT_TRUE(manager.LoadMapList(&loader, 0, path, false));
    manager.GetMapInfo(0)->SetProcessInfo(start("/bin/sh -c \"while :; do :; done\""));
    manager.StartSampler();
    manager.StartSampler();  // every tick calls it: one sampler

    // Another thread hands maps new processes, as the start worker does.
    std::atomic<bool> stop{false};
    std::thread launcher([&] {
      for (int round = 0; !stop.load() && round < 20; ++round) {
        auto reading = manager.ReadLock();
        manager.GetMapInfo(1 + round % 3)->SetProcessInfo(start("/bin/sleep 30"));
        platform::SleepMs(50);
      }
    });
    platform::SleepMs(300);
    stop.store(true);
    launcher.join();
    // The window thread rebuilds the list while the sampler runs. Each busy loop that is
    // replaced ends at once, so one busy loop competes for the processors, not four.
    for (int i = 0; i < 3; ++i) {
      const uint32_t previous = manager.GetMapInfo(0)->GetProcessInfo().ProcessId;
      ASSERT_TRUE(manager.LoadMapList(&loader, 0, path, false));
      manager.GetMapInfo(0)->SetProcessInfo(start("/bin/sh -c \"while :; do :; done\""));
      EndProcess(previous);
      started.erase(std::find(started.begin(), started.end(), previous));
      platform::SleepMs(30);
    }
    MapServerInfo* busy = manager.GetMapInfo(0);
    const uint32_t busyPid = busy->GetProcessInfo().ProcessId;
    // Nobody here samples: the figures come from the sampler, within about two seconds. The
    // share a loaded machine gives the loop is its own business; that it shows is ours.
    EXPECT_TRUE(WaitUntil([&] { return busy->GetProcessCpu() > 0; }, 10000)) << busy->GetProcessCpu();
    EXPECT_LE(busy->GetProcessCpu(), 110);
    const uint64_t resident = busy->GetMemoryCounters().WorkingSetSize;
    const uint64_t fromProc = ResidentBytes(busyPid);
    EXPECT_GT(resident, 0u);
    EXPECT_NEAR(static_cast<double>(resident), static_cast<double>(fromProc), 1024.0 * 1024.0);
    EXPECT_EQ(manager.GetMapInfo(1)->GetMemoryCounters().WorkingSetSize, 0u);  // no process
  }                                                                            // the sampler stops with its manager
  for (uint32_t pid : started) EndProcess(pid);
}

}  // namespace
