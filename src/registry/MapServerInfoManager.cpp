#include "registry/MapServerInfoManager.h"

#include "components/GameDataComponent.h"
#include "components/LogComponent.h"
#include "platform/clock.h"
#include "platform/shared_memory.h"

MapServerInfoManager::MapServerInfoManager() : MapServerInfoManager(platform::ProcessorCount()) {}

MapServerInfoManager::MapServerInfoManager(int processorCount) : m_ProcessorCount(processorCount) {}

MapServerInfoManager::~MapServerInfoManager() {
  StopSampler();
  Clear();
}

void MapServerInfoManager::StartSampler() {
  if (m_ProcessorCount == 0) return;
  std::lock_guard<std::mutex> lock(m_SamplerStateMutex);
  if (m_Sampler.joinable() || m_StopSampler) return;
  m_Sampler = std::thread([this] {
    std::unique_lock<std::mutex> state(m_SamplerStateMutex);
    while (!m_StopSampler) {
      state.unlock();
      SampleCpu();
      state.lock();
      m_SamplerWake.wait_for(state, std::chrono::milliseconds(100), [this] { return m_StopSampler; });
    }
  });
}

void MapServerInfoManager::StopSampler() {
  {
    std::lock_guard<std::mutex> lock(m_SamplerStateMutex);
    m_StopSampler = true;
  }
  m_SamplerWake.notify_all();
  if (m_Sampler.joinable()) m_Sampler.join();
}

void MapServerInfoManager::Clear() {
  std::lock_guard<std::mutex> lock(m_SampleMutex);
  ClearLocked();
}

void MapServerInfoManager::ClearLocked() {
  m_List.Clear();   // not owning: only forgets the pointers
  m_Index.Clear();  // owning: destroys the maps
  m_ReportedLostMaps.clear();
}

bool MapServerInfoManager::LoadMapList(int mapManagerNum, const std::string& path, bool debug) {
  return LoadMapList(GetMapFileLoader(), mapManagerNum, path, debug);
}

bool MapServerInfoManager::LoadMapList(IMapFileLoader* loader, int mapManagerNum, const std::string& path, bool debug) {
  std::lock_guard<std::mutex> sampling(m_SampleMutex);
  ClearLocked();
  if (loader == nullptr) {
    LogObject()->LogError("MapServerInfoManager::LoadMapList no map file loader, %s not loaded", path.c_str());
    return false;
  }
  bool loaded = loader->LoadMapFile(path.c_str(), debug ? 1 : 0);

  int count = loader->GetMapCount();
  for (int i = 0; i < count; ++i) {
    const tagMapItem* item = loader->GetMapItem(i);
    if (item == nullptr) continue;
    if (mapManagerNum != 0 && item->MapManagerNum != mapManagerNum) continue;
    // An empty server name still makes a key ("_<id>"); only a missing one cannot.
    if (item->ServerName == nullptr) {
      LogObject()->LogError("MapServerInfoManager::LoadMapList MapID = %d in %s has no server name, skipped",
                            item->MapID, path.c_str());
      continue;
    }
    // A map id seen before keeps its first map; the duplicate opens no record.
    if (m_Index.Find(static_cast<uint32_t>(item->MapID)) != nullptr) {
      LogObject()->LogDesign("Duplicate MapID = %d in %s", item->MapID, path.c_str());
      continue;
    }
    auto* info = new MapServerInfo(item->ServerName, item->MapID, item->MapName ? item->MapName : "", item);
    m_Index.Add(static_cast<uint32_t>(item->MapID), info);
    m_List.Add(info);
  }

  m_List.Sort([](const MapServerInfo* a, const MapServerInfo* b) {
    if (a->GetSortKey() != b->GetSortKey()) return a->GetSortKey() < b->GetSortKey();
    return a->GetMapData().GetMapID() < b->GetMapData().GetMapID();
  });
  return loaded;
}

std::unique_lock<MapListLock> MapServerInfoManager::LockForRebuild(const std::function<bool()>& giveUp) {
  if (!m_ListLock.LockUnless(giveUp)) return std::unique_lock<MapListLock>(m_ListLock, std::defer_lock);
  return std::unique_lock<MapListLock>(m_ListLock, std::adopt_lock);
}

void MapServerInfoManager::SampleCpu() {
  if (m_ProcessorCount == 0) return;
  std::lock_guard<std::mutex> lock(m_SampleMutex);
  uint32_t now = platform::TimeGetTime();
  if (!m_HasSampleTime) {
    // No CPU figure without an elapsed time; the memory figures are there from the start.
    m_HasSampleTime = true;
    m_LastSampleTime = now;
    for (int i = 0; i < m_List.Count(); ++i) m_List.Get(i)->SampleMemory();
    return;
  }
  uint32_t elapsed = now - m_LastSampleTime;
  if (elapsed < 1000) return;
  m_LastSampleTime = now;
  for (int i = 0; i < m_List.Count(); ++i) m_List.Get(i)->SampleCpu(elapsed);
}

uint64_t MapServerInfoManager::ReportSharedMemoryFaults() {
  const uint64_t faults = platform::SharedMemoryFaultCount();
  if (faults == m_ReportedFaults) return 0;
  const uint64_t fresh = faults - m_ReportedFaults;
  m_ReportedFaults = faults;
  LogObject()->LogError(
      "Shared memory: %llu fault(s) under this manager's views; a segment was shrunk by another process",
      static_cast<unsigned long long>(fresh));
  for (int i = 0; i < m_List.Count(); ++i) {
    const MapServerInfo* info = m_List.Get(i);
    const tagMapServerData* record = info->GetShareData();
    if (record == nullptr || !platform::IsSharedViewLost(record)) continue;
    if (m_ReportedLostMaps.insert(info->GetMapData().GetMapID()).second)
      LogObject()->LogError(
          "Shared memory: the record of MapID = %d was cut off from its segment; its figures read as "
          "zeros until the map list is loaded again",
          info->GetMapData().GetMapID());
  }
  return fresh;
}

MapServerInfoManager& GetMapServerInfoManager() {
  static MapServerInfoManager manager;
  return manager;
}
