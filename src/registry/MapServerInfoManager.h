// The map list: every map of the loaded map file that belongs to this manager, each with
// its shared record, kept by map id and in display order (sort key, then map id). List
// position n is row n of both list views and cell n of the grid.
//
// The process has one instance, GetMapServerInfoManager(), built on first use and
// destroyed when the process ends. Tests may build their own. There is no lock: the
// window thread and the start worker share the list, and the list must not be rebuilt
// while a launch pass runs.
#pragma once

#include <cstdint>
#include <string>

#include "common/AIndexList.h"
#include "common/AList.h"
#include "components/IGameData.h"
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

  // One CPU sample of every launched map server, on the refresh tick. The first call only
  // notes the time; later calls less than 1000 ms after the last sample do nothing.
  void SampleCpu();

  int GetProcessorCount() const { return m_ProcessorCount; }

 private:
  AIndexList<MapServerInfo> m_Index{true};  // every loaded map, keyed by map id, owning
  AList<MapServerInfo> m_List{false, 10};   // the same maps in display order
  bool m_HasSampleTime = false;
  uint32_t m_LastSampleTime = 0;  // multimedia-timer milliseconds of the last sample
  int m_ProcessorCount = 0;
};

// The process's one map list.
MapServerInfoManager& GetMapServerInfoManager();
