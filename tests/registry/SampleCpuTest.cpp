// CPU sampling of launched map server processes, against a clock the test moves.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "CMapFileLoader.h"
#include "registry/MapServerInfoManager.h"
#include "support/ProcStat.h"
#include "support/RecordingLog.h"
#include "support/TestSupport.h"

namespace {

// A process's processor time so far (user + system) in ms, as the kernel counts it: what a
// sampled figure is checked against, whatever share of a loaded machine the process got.
double ProcessorMs(uint32_t pid) {
  const double ticks = std::stod(ProcStatField(pid, 14)) + std::stod(ProcStatField(pid, 15));
  return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

class SampleCpuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string server = UniqueName("Cpu");
    std::string path =
        m_Dir.Write("MapID.txt", "1 " + server + " One 1 1 500 0 0 1\n2 " + server + " Two 2 1 500 0 0 1\n");
    ASSERT_TRUE(m_Manager.LoadMapList(&m_Loader, 0, path, false));
    ASSERT_EQ(m_Manager.GetMapInfoCount(), 2);
  }
  void TearDown() override {
    // By process id: a map that received a newer process has closed the older handle.
    for (uint32_t pid : m_Started) {
      int handle = platform::OpenProcessHandle(pid);
      if (handle == 0) continue;
      platform::TerminateProcess(handle, -1);
      platform::WaitForProcess(handle, 5000, nullptr);
      platform::CloseProcessHandle(handle);
    }
  }

  // Starts a process and returns its information; the map that receives it owns the handle.
  platform::ProcessInformation Start(const std::string& commandLine) {
    platform::ProcessInformation info;
    int errorCode = 0;
    EXPECT_TRUE(platform::StartProcess(commandLine, "", false, &info, &errorCode)) << errorCode;
    m_Started.push_back(info.ProcessId);
    return info;
  }

  RecordingLog m_Log;
  TempDir m_Dir;
  FakeClock m_Clock;
  gamedata::CMapFileLoader m_Loader;
  MapServerInfoManager m_Manager{2};
  std::vector<uint32_t> m_Started;
};

TEST_F(SampleCpuTest, BusyProcessReadsNearOneHundredAfterTwoSamples) {
  MapServerInfo* busy = m_Manager.GetMapInfo(0);
  MapServerInfo* idle = m_Manager.GetMapInfo(1);
  busy->SetProcessInfo(Start("/bin/sh -c \"while :; do :; done\""));
  idle->SetProcessInfo(Start("/bin/sleep 60"));

  m_Clock.now = 5000;
  m_Manager.SampleCpu();  // the first sample only notes the time
  m_Clock.now = 6000;
  m_Manager.SampleCpu();  // each process's first sample only notes its times
  EXPECT_EQ(busy->GetProcessCpu(), 0);

  const double processorBefore = ProcessorMs(m_Started[0]);
  auto start = std::chrono::steady_clock::now();
  platform::SleepMs(1000);
  auto realMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  m_Clock.now = 6000 + static_cast<uint32_t>(realMs.count());
  m_Manager.SampleCpu();
  // One processor's full time reads 100. A loaded machine gives the child less, so the
  // figure is held against the share the kernel counted for it over the same second.
  const double share = (ProcessorMs(m_Started[0]) - processorBefore) * 100.0 / static_cast<double>(realMs.count());
  EXPECT_NEAR(busy->GetProcessCpu(), share, 10.0);
  EXPECT_LE(busy->GetProcessCpu(), 110);
  EXPECT_LE(idle->GetProcessCpu(), 2);
  EXPECT_GT(busy->GetMemoryCounters().WorkingSetSize, 0u);

  // Less than 1000 ms after the last sample: nothing changes.
  int usage = busy->GetProcessCpu();
  platform::SleepMs(200);
  m_Clock.now += 999;
  m_Manager.SampleCpu();
  EXPECT_EQ(busy->GetProcessCpu(), usage);

  // A new process's first sample leaves the figure alone instead of comparing it with
  // the old process's times.
  busy->SetProcessInfo(Start("/bin/sleep 60"));
  m_Clock.now += 1000;
  m_Manager.SampleCpu();
  EXPECT_EQ(busy->GetProcessCpu(), usage);
  m_Clock.now += 1000;
  m_Manager.SampleCpu();
  EXPECT_LE(busy->GetProcessCpu(), 2);
}

TEST_F(SampleCpuTest, EndedProcessAndMissingHandleKeepTheirFigures) {
  MapServerInfo* map = m_Manager.GetMapInfo(0);
  platform::ProcessInformation info = Start("/bin/sleep 60");
  map->SetProcessInfo(info);
  m_Clock.now = 100;
  m_Manager.SampleCpu();
  m_Clock.now = 1100;
  m_Manager.SampleCpu();
  ASSERT_TRUE(platform::TerminateProcess(info.ProcessHandle, -1));
  ASSERT_TRUE(platform::WaitForProcess(info.ProcessHandle, 5000, nullptr));
  m_Clock.now = 2100;
  m_Manager.SampleCpu();
  EXPECT_EQ(map->GetProcessCpu(), 0);
  EXPECT_EQ(map->GetMemoryCounters().WorkingSetSize, 0u);
  EXPECT_EQ(m_Manager.GetMapInfo(1)->GetMemoryCounters().WorkingSetSize, 0u);
}

TEST_F(SampleCpuTest, ClockWrapStillMeasuresElapsedTime) {
  MapServerInfo* busy = m_Manager.GetMapInfo(0);
  busy->SetProcessInfo(Start("/bin/sh -c \"while :; do :; done\""));
  m_Clock.now = 0xFFFFF000u;
  m_Manager.SampleCpu();
  m_Clock.now += 1000;
  m_Manager.SampleCpu();
  const double processorBefore = ProcessorMs(m_Started[0]);
  auto start = std::chrono::steady_clock::now();
  platform::SleepMs(1000);
  auto realMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  m_Clock.now += static_cast<uint32_t>(realMs.count());  // wraps past 0
  m_Manager.SampleCpu();
  const double share = (ProcessorMs(m_Started[0]) - processorBefore) * 100.0 / static_cast<double>(realMs.count());
  EXPECT_NEAR(busy->GetProcessCpu(), share, 10.0);
  EXPECT_LE(busy->GetProcessCpu(), 110);
}

}  // namespace
