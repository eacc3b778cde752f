#include "CPellwyn.h"

#include <chrono>
#include <cstring>
#include <vector>

#include "GameDataLog.h"
#include "ShareData.h"
#include "SysTables.h"
#include "common/Utils.h"
#include "platform/message_bus.h"
#include "platform/shared_memory.h"

namespace gamedata {

CPellwyn::CPellwyn(std::string shareName, std::string sysTableDir)
    : m_ShareName(std::move(shareName)), m_SysTableDir(std::move(sysTableDir)) {}

CPellwyn::~CPellwyn() { CloseSegment(); }

bool CPellwyn::OpenSegment() {
  bool existed = false;
  int errorCode = 0;
  m_Handle = platform::CreateSharedSegment(m_ShareName, kShareDataSize, &existed, &errorCode);
  if (m_Handle < 0) {
    GameDataLog()->LogError("CPellwyn::Initialize can't create share memory %s, errorno=%d %s", m_ShareName.c_str(),
                            errorCode, platform::SystemErrorText(errorCode).c_str());
    m_InitState = kFailed;
    return false;
  }
  m_View = platform::MapSharedSegment(m_Handle, kShareDataSize, &errorCode);
  if (m_View == nullptr) {
    GameDataLog()->LogError("CPellwyn::Initialize can't map share memory %s, errorno=%d %s", m_ShareName.c_str(),
                            errorCode, platform::SystemErrorText(errorCode).c_str());
    platform::CloseSharedSegment(m_Handle);
    m_Handle = -1;
    m_InitState = kFailed;
    return false;
  }
  auto* head = static_cast<tagShareHead*>(m_View);
  if (!existed) std::memset(m_View, 0, kShareDataSize);
  // The layout words are the same for every holder; writing them again is harmless and
  // repairs a head that a broken holder damaged.
  std::memset(head->Name, 0, sizeof head->Name);
  std::strncpy(head->Name, m_ShareName.c_str(), sizeof head->Name - 1);
  head->Size = kShareDataSize;
  head->Reserved[srPlayerTableOffset] = kPlayerTableOffset;
  head->Reserved[srPlayerCapacity] = kPlayerCapacity;
  head->Reserved[srItemTableOffset] = kItemTableOffset;
  head->Reserved[srItemCapacity] = kItemCapacity;
  m_InitState = kReady;
  GameDataLog()->LogInfo("CPellwyn::Initialize share memory %s %s, %u bytes, VemoSysVersion = %u", m_ShareName.c_str(),
                         existed ? "opened" : "created", kShareDataSize, head->VemoSysVersion);
  return true;
}

void CPellwyn::CloseSegment() {
  if (m_View != nullptr) platform::UnmapSharedSegment(m_View, kShareDataSize);
  if (m_Handle >= 0) platform::CloseSharedSegment(m_Handle);
  m_View = nullptr;
  m_Handle = -1;
}

void CPellwyn::NotifyReady() {
  if (m_NotifyWindow == 0 || m_View == nullptr) return;
  if (!platform::PostMessage(m_NotifyWindow, WM_MAPMANAGER_LOAD_SHAREDATA, 0, 0))
    GameDataLog()->LogWarn("CPellwyn::NotifyReady can't post WM_MAPMANAGER_LOAD_SHAREDATA to window %u",
                           m_NotifyWindow);
}

bool CPellwyn::Initialize() {
  if (m_View != nullptr) return true;
  if (!OpenSegment()) return false;
  NotifyReady();
  return true;
}

tagShareHead* CPellwyn::GetShareHead() { return m_View != nullptr ? static_cast<tagShareHead*>(m_View) : &m_LocalHead; }

void CPellwyn::SetNotifyWindow(uint32_t window) {
  m_NotifyWindow = window;
  NotifyReady();
}

int CPellwyn::GetShareDataSize() { return m_View != nullptr ? static_cast<int>(kShareDataSize) : 0; }

void CPellwyn::UnloadShareData() {
  if (m_View == nullptr) return;
  ShareLock();
  auto* bytes = static_cast<char*>(m_View);
  auto* head = static_cast<tagShareHead*>(m_View);
  std::memset(bytes + kHeadBytes, 0, kShareDataSize - kHeadBytes);
  head->PlayerTotal = 0;
  head->ItemTotal = 0;
  head->Reserved[srLoaded] = 0;
  m_InitState = kReady;
  ReleaseShareLock();
}

bool CPellwyn::LoadShareData() {
  if (m_View == nullptr) {
    GameDataLog()->LogError("CPellwyn::LoadShareData share memory %s is not initialised", m_ShareName.c_str());
    return false;
  }
  SysTables tables;
  std::vector<std::string> errors;
  std::string sources;
  LoadSysTables(m_SysTableDir, tables, errors, sources);
  for (const auto& error : errors) GameDataLog()->LogWarn("CPellwyn::LoadShareData %s", error.c_str());
  if (tables.Players.size() > kPlayerCapacity) {
    GameDataLog()->LogWarn("CPellwyn::LoadShareData player table has %d rows, only %d kept",
                           static_cast<int>(tables.Players.size()), static_cast<int>(kPlayerCapacity));
    tables.Players.resize(kPlayerCapacity);
  }
  if (tables.Items.size() > kItemCapacity) {
    GameDataLog()->LogWarn("CPellwyn::LoadShareData item table has %d rows, only %d kept",
                           static_cast<int>(tables.Items.size()), static_cast<int>(kItemCapacity));
    tables.Items.resize(kItemCapacity);
  }

  ShareLock();
  auto* bytes = static_cast<char*>(m_View);
  auto* head = static_cast<tagShareHead*>(m_View);
  std::memset(bytes + kHeadBytes, 0, kShareDataSize - kHeadBytes);
  if (!tables.Players.empty())
    std::memcpy(bytes + kPlayerTableOffset, tables.Players.data(), tables.Players.size() * sizeof(tagSharePlayerRow));
  if (!tables.Items.empty())
    std::memcpy(bytes + kItemTableOffset, tables.Items.data(), tables.Items.size() * sizeof(tagShareItemRow));
  head->PlayerTotal = static_cast<uint32_t>(tables.Players.size());
  head->ItemTotal = static_cast<uint32_t>(tables.Items.size());
  head->Reserved[srLoaded] = 1;
  m_InitState = kLoaded;
  ReleaseShareLock();

  GameDataLog()->LogInfo("CPellwyn::LoadShareData %d player rows, %d item rows (%s)",
                         static_cast<int>(tables.Players.size()), static_cast<int>(tables.Items.size()),
                         sources.c_str());
  return true;
}

bool CPellwyn::RecreateFileMapping(int version) {
  ShareLock();
  CloseSegment();  // the segment lock goes with the old handle
  bool ok = OpenSegment();
  if (ok) m_SegmentLocked = platform::LockSharedSegment(m_Handle, platform::kWaitForever);  // false: see ShareLock
  if (ok) {
    auto* head = static_cast<tagShareHead*>(m_View);
    head->VemoSysVersion = static_cast<uint32_t>(version);
    head->Recreated = 0;
    head->PlayerTotal = 0;
    head->ItemTotal = 0;
    head->Reserved[srLoaded] = 0;
  }
  ReleaseShareLock();
  if (ok) NotifyReady();
  return ok;
}

int CPellwyn::GetSharePlayerTotal() { return static_cast<int>(GetShareHead()->PlayerTotal); }

int CPellwyn::GetShareItemTotal() { return static_cast<int>(GetShareHead()->ItemTotal); }

// The share lock has two layers: the threads of this process queue for ownership here
// (re-entrant for the owner), and the owner then takes the segment's own lock, which every
// process holding the segment sees. Both are given up together when the depth returns to 0.
bool CPellwyn::ShareLock() { return WaitForShareLock(platform::kWaitForever); }

bool CPellwyn::WaitForShareLock(uint32_t timeoutMs) {
  const auto self = std::this_thread::get_id();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> lock(m_LockMutex);
  auto mine = [&] { return m_LockDepth == 0 || m_LockOwner == self; };
  if (timeoutMs == platform::kWaitForever)
    m_LockFree.wait(lock, mine);
  else if (!m_LockFree.wait_until(lock, deadline, mine))
    return false;
  if (m_LockDepth > 0) {
    ++m_LockDepth;
    return true;
  }
  m_LockOwner = self;
  m_LockDepth = 1;
  const int handle = m_Handle;
  lock.unlock();
  // Other threads of this process wait above meanwhile; only the owner waits here.
  bool taken = true;
  if (handle >= 0) {
    uint32_t left = timeoutMs;
    if (timeoutMs != platform::kWaitForever) {
      auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      left = rest.count() > 0 ? static_cast<uint32_t>(rest.count()) : 0;
    }
    bool earlierHolder = false;
    taken = platform::LockSharedSegment(handle, left, &earlierHolder);
    if (!taken && earlierHolder) {
      // A process of an earlier build holds the segment: it never takes the segment lock,
      // so it cannot be kept out; this process's threads still take turns.
      if (!m_EarlierHolderReported)
        GameDataLog()->LogWarn(
            "CPellwyn::ShareLock share memory %s is held by a process of an earlier build; the "
            "share lock keeps out only this process's other threads until it ends",
            m_ShareName.c_str());
      m_EarlierHolderReported = true;
      return true;
    }
  }
  if (taken) {
    m_SegmentLocked = handle >= 0;
    return true;
  }
  lock.lock();
  m_LockDepth = 0;
  m_LockOwner = std::thread::id();
  lock.unlock();
  m_LockFree.notify_all();
  return false;
}

void CPellwyn::ReleaseShareLock() {
  std::unique_lock<std::mutex> lock(m_LockMutex);
  if (m_LockDepth == 0 || m_LockOwner != std::this_thread::get_id()) {
    lock.unlock();
    GameDataLog()->LogWarn("CPellwyn::ReleaseShareLock called by a thread that does not hold the share lock");
    return;
  }
  if (--m_LockDepth == 0) {
    if (m_SegmentLocked && m_Handle >= 0) platform::UnlockSharedSegment(m_Handle);
    m_SegmentLocked = false;
    m_LockOwner = std::thread::id();
    lock.unlock();
    m_LockFree.notify_all();
  }
}

}  // namespace gamedata
