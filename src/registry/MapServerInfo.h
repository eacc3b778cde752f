// One loaded map: its identity and shared record, the process this manager launched
// for it, and its CPU and memory figures.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "interfaces/IGameData.h"
#include "platform/process_control.h"
#include "platform/process_handle.h"
#include "platform/process_metrics.h"
#include "registry/MapServerData.h"

class MapServerInfo {
 public:
  // Builds the map's MapServerData (and so opens its record) from the item's server name
  // and map id. The display name, sort key, FB limit and map manager number are copied
  // from the item, so they stay readable even after the component reloads its map file;
  // the item itself is kept for callers that want the component's view of the map.
  MapServerInfo(const std::string& serverName, int mapId, const std::string& displayName, const tagMapItem* item);
  // The process handle of the last launch is closed with the map (it owns it).
  ~MapServerInfo() = default;

  MapServerInfo(const MapServerInfo&) = delete;
  MapServerInfo& operator=(const MapServerInfo&) = delete;

  MapServerData& GetMapData() { return m_MapData; }
  const MapServerData& GetMapData() const { return m_MapData; }
  // The map's shared record, or null when its segment is not mapped.
  tagMapServerData* GetShareData() const { return m_MapData.GetShareData(); }
  // The record's Hwnd: the map server's window handle; 0 without a record.
  uint32_t GetMapWindow() const;

  const std::string& GetDisplayName() const { return m_DisplayName; }
  const tagMapItem* GetMapItem() const { return m_MapItem; }
  int GetSortKey() const { return m_SortKey; }
  int GetFBLimit() const { return m_FBLimit; }
  int GetMapManagerNum() const { return m_MapManagerNum; }

  // Only active maps are started by "StartAll" and "Mini Open All"; 1 at construction.
  int GetActive() const { return m_Active.load(); }
  void SetActive(int active) { m_Active.store(active); }

  // Stores the four values of a launch and takes over its raw handle: the handle of an
  // earlier launch is closed, and the CPU figures start again from no sample, so the
  // first sample of the new process never compares against the old one. The caller must
  // not close the handle it passes. The sampler and the start worker may call this while
  // the window thread reads: the process information and figures have their own lock.
  void SetProcessInfo(const platform::ProcessInformation& info);
  // The four values; the handle in it is lent: the map keeps owning it.
  platform::ProcessInformation GetProcessInfo() const;
  // Takes over a handle opened for a process this manager run did not start (a map server
  // left running by an earlier run), unless the map already holds a running handle of the
  // same process; then the offered handle is closed. Returns the (raw) handle the map holds.
  int AdoptProcess(platform::ProcessHandle handle, uint32_t pid);

  // A map is claimed by whoever launches or closes it (the start worker, or the window
  // thread for one map), so that no map is launched twice while a close waits.
  bool TryClaim() { return !m_Claimed.exchange(true); }
  void ReleaseClaim() { m_Claimed.store(false); }
  bool IsClaimed() const { return m_Claimed.load(); }

  // Set when someone asked the map server to end (a close, a kill, the stop of the
  // service), cleared by its next launch: an end that was asked for is no crash.
  void SetExitExpected(bool expected) { m_ExitExpected.store(expected); }
  bool IsExitExpected() const { return m_ExitExpected.load(); }

  // True the first time a record's process id is found not to be a map server of this
  // machine, so that it is logged once, not on every check.
  bool NoteRefusedProcessId(uint32_t pid) { return m_RefusedPid.exchange(pid) != pid; }
  // The same, once per process id, for a map server that runs but cannot be supervised (no
  // handle could be opened for it), and for a record whose ProcessId contradicts the
  // process this run launched or adopted for the map.
  bool NoteUnsupervisedProcessId(uint32_t pid) { return m_UnsupervisedPid.exchange(pid) != pid; }
  bool NoteContradictingProcessId(uint32_t pid) { return m_ContradictingPid.exchange(pid) != pid; }

  // CPU usage in percent of one processor, from the last two samples.
  int GetProcessCpu() const;
  // Memory counters of the launched process as the last sample read them (the refresh
  // tick's, at most a second old); all zero before the first sample of the process, when
  // there is no process handle, or when the last reading failed (the process ended).
  // Any thread may ask: no caller reads /proc for a figure shown once a second.
  platform::MemoryCounters GetMemoryCounters() const;

  // One sample of CPU and memory (the manager's SampleCpu calls it for every map):
  // `elapsedMs` is the time since the manager's previous sample.
  void SampleCpu(uint32_t elapsedMs);
  // A sample of the memory counters alone (the manager's first sample, which has no
  // elapsed time for a CPU figure).
  void SampleMemory();

 private:
  // A new process: no sample of it yet (the lock is held).
  void ForgetSamples();

  std::atomic<int> m_Active{1};
  std::atomic<bool> m_Claimed{false};
  std::atomic<uint32_t> m_RefusedPid{0};
  std::atomic<uint32_t> m_UnsupervisedPid{0};
  std::atomic<uint32_t> m_ContradictingPid{0};
  std::atomic<bool> m_ExitExpected{false};
  MapServerData m_MapData;
  const tagMapItem* m_MapItem;
  std::string m_DisplayName;
  int m_SortKey = 0;
  int m_FBLimit = 0;
  int m_MapManagerNum = 0;
  mutable std::mutex m_ProcessMutex;  // guards the process information, CPU and memory figures
  platform::ProcessHandle m_Handle;   // the launched or adopted process
  uint32_t m_ProcessId = 0;
  uint32_t m_ThreadId = 0;
  // Last CPU sample of the process (100-ns units) and whether there is one.
  bool m_HasPrevTimes = false;
  uint64_t m_PrevKernelTime = 0;
  uint64_t m_PrevUserTime = 0;
  uint64_t m_KernelTimeDiff = 0;
  uint64_t m_UserTimeDiff = 0;
  int m_CpuUsage = 0;
  platform::MemoryCounters m_Memory;  // the last sample's
};
