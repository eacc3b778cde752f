// A manual-reset event: once set it stays signalled, releasing every waiter, until reset.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

// What a wait on an event ends with.
enum class WaitResult {
  Signaled,   // the event was set
  Timeout,    // the time ran out first
  Abandoned,  // the event no longer takes waiters (see KxThreadEvent)
  Error,      // the wait itself failed
};

// A timeout meaning "wait as long as it takes" (all bits set).
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

class ManualResetEvent {
 public:
  // Created unsignalled. The name is kept for display only; events are not shared
  // between processes.
  explicit ManualResetEvent(const std::string& name = "");
  virtual ~ManualResetEvent() = default;
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  void SetEvent();
  void ResetEvent();
  bool IsSignaled() const;
  const std::string& Name() const { return m_Name; }

  // Waits up to `timeoutMs` (kInfinite: no limit) for the event to be set.
  virtual WaitResult WaitFor(uint32_t timeoutMs);

 protected:
  // True when waits must end at once with Abandoned; read under m_Mutex.
  virtual bool IsAbandonedLocked() const { return false; }
  // Wakes every waiter so that it looks at the state again; call after changing what
  // IsAbandonedLocked reports, with m_Mutex held.
  void WakeAllLocked() { m_Condition.notify_all(); }
  // Sets the event with m_Mutex held, waking every waiter.
  void SetEventLocked() {
    m_Signaled = true;
    m_Condition.notify_all();
  }

  mutable std::mutex m_Mutex;

 private:
  std::condition_variable m_Condition;
  bool m_Signaled = false;
  std::string m_Name;
};
