// The system-table share data: a named shared memory segment (layout in ShareData.h)
// that holds the player level table and the item templates for every process of the
// machine. Initialize creates or opens the segment; once it is there the object posts
// WM_MAPMANAGER_LOAD_SHAREDATA to the notify window, whose owner then calls
// LoadShareData on its own thread. Used from the owner's window thread; the share lock
// guards the tables against the component's other users, in this process and in every
// other process that holds the segment.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "interfaces/IGameData.h"

namespace gamedata {

class CPellwyn final : public IPellwyn {
 public:
  // `shareName` names the segment; `sysTableDir` (ending in "/") holds the table files.
  CPellwyn(std::string shareName, std::string sysTableDir);
  ~CPellwyn();

  CPellwyn(const CPellwyn&) = delete;
  CPellwyn& operator=(const CPellwyn&) = delete;

  bool Initialize() override;
  // The head in the segment; before Initialize, or when the segment could not be mapped,
  // a zeroed head of this process, so a caller never follows a null pointer.
  tagShareHead* GetShareHead() override;
  void SetNotifyWindow(uint32_t window) override;
  int GetShareDataSize() override;
  bool IsShareDataLoaded() override { return m_InitState == kLoaded; }
  // 0 before Initialize, 1 with the segment ready, 2 with the tables loaded, -1 when the
  // segment could not be created or mapped.
  int GetShareMemoryInitState() override { return m_InitState; }
  const char* GetShareName() override { return m_ShareName.c_str(); }
  void UnloadShareData() override;
  bool LoadShareData() override;
  // Drops the segment and creates (or opens) it again with `version` as its system
  // version and the re-created flag cleared; the tables must be loaded again, so the
  // notify window is told once more.
  bool RecreateFileMapping(int version) override;
  int GetSharePlayerTotal() override;
  int GetShareItemTotal() override;

  // The share lock: held by one thread of one process at a time (every process holding the
  // segment sees it; the kernel drops it when its holder ends), re-entrant for that thread.
  bool ShareLock();
  void ReleaseShareLock();
  // Takes the lock if it becomes free within `timeoutMs`; true when taken.
  bool WaitForShareLock(uint32_t timeoutMs);

  static constexpr int kFailed = -1;
  static constexpr int kNotInitialized = 0;
  static constexpr int kReady = 1;
  static constexpr int kLoaded = 2;

 private:
  bool OpenSegment();
  void CloseSegment();
  void NotifyReady();

  std::string m_ShareName;
  std::string m_SysTableDir;
  int m_Handle = -1;
  void* m_View = nullptr;
  int m_InitState = kNotInitialized;
  uint32_t m_NotifyWindow = 0;
  tagShareHead m_LocalHead{};

  std::mutex m_LockMutex;
  std::condition_variable m_LockFree;
  std::thread::id m_LockOwner;
  int m_LockDepth = 0;
  bool m_SegmentLocked = false;  // the owner holds the segment's lock too (owner's thread only)
  bool m_EarlierHolderReported = false;
};

}  // namespace gamedata
