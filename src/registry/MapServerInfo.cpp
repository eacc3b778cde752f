#include "registry/MapServerInfo.h"

#include <utility>

MapServerInfo::MapServerInfo(const std::string& serverName, int mapId, const std::string& displayName,
                             const tagMapItem* item)
    : m_MapData(serverName, mapId), m_MapItem(item), m_DisplayName(displayName) {
  if (item != nullptr) {
    m_SortKey = item->SortKey;
    m_FBLimit = item->FBLimit;
    m_MapManagerNum = item->MapManagerNum;
  }
}

uint32_t MapServerInfo::GetMapWindow() const {
  const tagMapServerData* record = GetShareData();
  return record != nullptr ? record->Hwnd : 0;
}

void MapServerInfo::SetProcessInfo(const platform::ProcessInformation& info) {
  std::lock_guard<std::mutex> lock(m_ProcessMutex);
  m_Handle.reset(info.ProcessHandle);
  m_ProcessId = info.ProcessId;
  m_ThreadId = info.ThreadId;
  ForgetSamples();
}

platform::ProcessInformation MapServerInfo::GetProcessInfo() const {
  std::lock_guard<std::mutex> lock(m_ProcessMutex);
  return platform::ProcessInformation{m_Handle.get(), 0, m_ProcessId, m_ThreadId};
}

int MapServerInfo::AdoptProcess(platform::ProcessHandle handle, uint32_t pid) {
  std::lock_guard<std::mutex> lock(m_ProcessMutex);
  if (handle.get() == m_Handle.get()) handle.release();  // offered what it holds: one owner
  // The offered handle, when not taken, closes as it goes out of scope.
  if (m_Handle && m_ProcessId == pid && platform::IsProcessHandleRunning(m_Handle.get())) return m_Handle.get();
  m_Handle = std::move(handle);
  m_ProcessId = m_ThreadId = pid;
  ForgetSamples();
  return m_Handle.get();
}

int MapServerInfo::GetProcessCpu() const {
  std::lock_guard<std::mutex> lock(m_ProcessMutex);
  return m_CpuUsage;
}

platform::MemoryCounters MapServerInfo::GetMemoryCounters() const {
  std::lock_guard<std::mutex> lock(m_ProcessMutex);
  return m_Memory;
}

void MapServerInfo::ForgetSamples() {
  m_HasPrevTimes = false;
  m_PrevKernelTime = 0;
  m_PrevUserTime = 0;
  m_KernelTimeDiff = 0;
  m_UserTimeDiff = 0;
  m_Memory = platform::MemoryCounters();
}

void MapServerInfo::SampleMemory() {
  std::lock_guard<std::mutex> lock(m_ProcessMutex);
  platform::MemoryCounters memory;  // stays zero when there is no process or no reading
  if (m_Handle) platform::GetMemoryCountersByHandle(m_Handle.get(), &memory);
  m_Memory = memory;
}

void MapServerInfo::SampleCpu(uint32_t elapsedMs) {
  std::lock_guard<std::mutex> lock(m_ProcessMutex);
  if (!m_Handle) return;
  platform::CpuTimes now;
  platform::MemoryCounters memory;
  if (!platform::GetProcessUsageByHandle(m_Handle.get(), &now, &memory)) {
    // An ended process has no memory; its CPU figure stays as the last sample left it.
    m_Memory = platform::MemoryCounters();
    return;
  }
  m_Memory = memory;

  // The first sample of a process only notes its times. Times that went backwards cannot
  // come from the same process; they start a new series instead of a wrapped difference.
  if (!m_HasPrevTimes || now.Kernel < m_PrevKernelTime || now.User < m_PrevUserTime) {
    m_HasPrevTimes = true;
    m_PrevKernelTime = now.Kernel;
    m_PrevUserTime = now.User;
    return;
  }
  m_KernelTimeDiff = now.Kernel - m_PrevKernelTime;
  m_UserTimeDiff = now.User - m_PrevUserTime;
  m_PrevKernelTime = now.Kernel;
  m_PrevUserTime = now.User;
  uint64_t cpuMs = (m_KernelTimeDiff + m_UserTimeDiff) / 10 / 1000;
  m_CpuUsage = elapsedMs == 0 ? 0 : static_cast<int>(static_cast<double>(cpuMs) / elapsedMs * 100);
}
