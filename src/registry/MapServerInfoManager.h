// The map list: every map of the loaded map file that belongs to this manager, each with
// its shared record, kept by map id and in display order (sort key, then map id). List
// position n is row n of both list views and cell n of the grid.
//
// The process has one instance, GetMapServerInfoManager(), built on first use and
// destroyed when the process ends. Tests may build their own.
//
// Who may touch the list, from which thread (the one rule every thread follows):
//  - Only the window thread changes the list (LoadMapList, Clear), and only while it holds
//    it exclusively (LockForRebuild). The window thread reads it without a lock, since
//    nobody else changes it.
//  - Every other thread that reads the list (the start worker, the status request thread,
//    the metrics server) holds ReadLock for as long as it uses list positions or
//    MapServerInfo pointers taken from the list.
//  - The window thread never waits for a reader without end: a reader may itself be
//    waiting for the window thread (a dialog of the start worker), so LockForRebuild asks
//    between short waits whether to give up (a start pass is running). While it waits, new
//    readers wait for it (MapListLock), so frequent readers cannot keep it out.
//  - The records behind the list are shared with the map servers: fields that more than one
//    side writes go through registry/RecordAccess.h.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <thread>

#include "registry/MapListLock.h"

#include "common/AIndexList.h"
#include "common/AList.h"
#include "interfaces/IGameData.h"
#include "registry/MapServerInfo.h"

class MapServerInfoManager {
 public:
  // The processor count comes from the system; CPU sampling is skipped when it is 0.
  MapServerInfoManager();
  explicit MapServerInfoManager(int processorCount);
  ~MapServerInfoManager();

  MapServerInfoManager(const MapServerInfoManager&) = delete;
  MapServerInfoManager& operator=(const MapServerInfoManager&) = delete;

  // Rebuilds the list from the game data component's map file loader: loads `path`, keeps
  // the items of `mapManagerNum` (0 keeps all), opens each map's record, skips a map id
  // seen before with a "Duplicate MapID" design line, and sorts. False when there is no
  // map file loader or the file could not be loaded (the list is then empty).
  bool LoadMapList(int mapManagerNum, const std::string& path, bool debug);
  // The same with a given loader (null counts as missing).
  bool LoadMapList(IMapFileLoader* loader, int mapManagerNum, const std::string& path, bool debug);
  // Destroys every map (closing its record and its process handle).
  void Clear();

  int GetMapInfoCount() const { return m_List.Count(); }
  // The map at a list position; null outside 0..count-1.
  MapServerInfo* GetMapInfo(int index) const { return m_List.Get(index); }
  // The map with that id, or null.
  MapServerInfo* FindMapInfo(int mapId) const { return m_Index.Find(static_cast<uint32_t>(mapId)); }

  // One CPU and memory sample of every launched map server. The first call notes the time
  // and samples memory only; later calls less than 1000 ms after the last sample do
  // nothing. Other threads read the figures sampled here (MapServerInfo::GetProcessCpu,
  // GetMemoryCounters) and never /proc. Any thread; a change of the list waits for it.
  void SampleCpu();
  // The refresh tick calls this instead of sampling itself: the first call starts the
  // sampler thread, which calls SampleCpu about every 100 ms (so once a second in effect)
  // until the manager is destroyed. Reading two /proc files for each of 2,000 maps costs
  // tens of milliseconds, which would make every tick of the window thread late.
  void StartSampler();

  int GetProcessorCount() const { return m_ProcessorCount; }

  // A map server (or any program of this user) that shrinks a record's segment under the
  // manager's view makes the guard of shared views step in, silently for normal code. On
  // the refresh tick this logs how many such faults came since the last call, and names
  // once each map whose record view was cut off from its segment (its figures are zeros and
  // the manager's writes to it reach nobody until the map list is loaded again). Returns
  // the number of new faults.
  uint64_t ReportSharedMemoryFaults();

  // Held by a thread other than the window thread while it reads the list.
  std::shared_lock<MapListLock> ReadLock() const { return std::shared_lock(m_ListLock); }
  // The window thread's exclusive hold for a rebuild. Waits for the readers in short steps
  // and asks `giveUp` between them; an unowned lock when it gave up.
  std::unique_lock<MapListLock> LockForRebuild(const std::function<bool()>& giveUp);

 private:
  void ClearLocked();
  void StopSampler();

  mutable MapListLock m_ListLock;
  // Held by a sample and by every change of the list, so the sampler never meets a map
  // being destroyed; the window thread waits at most for one sample of every map.
  std::mutex m_SampleMutex;
  std::mutex m_SamplerStateMutex;  // guards m_StopSampler and the start of m_Sampler
  std::condition_variable m_SamplerWake;
  bool m_StopSampler = false;
  std::thread m_Sampler;
  AIndexList<MapServerInfo> m_Index{true};  // every loaded map, keyed by map id, owning
  AList<MapServerInfo> m_List{false, 10};   // the same maps in display order
  bool m_HasSampleTime = false;
  uint32_t m_LastSampleTime = 0;  // multimedia-timer milliseconds of the last sample
  int m_ProcessorCount = 0;
  uint64_t m_ReportedFaults = 0;     // shared-memory faults already in the log
  std::set<int> m_ReportedLostMaps;  // maps whose lost record view was already named
};

// The process's one map list.
MapServerInfoManager& GetMapServerInfoManager();
