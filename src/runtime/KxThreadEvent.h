// The event of the thread framework: a manual-reset event that can be disabled, so that
// at shutdown a worker blocked on it is released and never blocks on it again.
#pragma once

#include "runtime/ManualResetEvent.h"

class KxThreadEvent : public ManualResetEvent {
 public:
  explicit KxThreadEvent(const std::string& name = "");

  // A disabled event answers every wait at once with Abandoned.
  bool IsEnabled() const;
  void SetEnabled(bool enabled);
  // Sets the event and disables it in one step: a waiter blocked now wakes signalled, and
  // no later wait can slip in between to find it set but still enabled.
  void SignalAndDisable();

  // Thread-owned events belong to one worker's stop handshake; the registry leaves them
  // alone when it stops all workers.
  bool IsThreadOwned() const;
  void SetThreadOwned(bool owned);

 protected:
  bool IsAbandonedLocked() const override { return !m_Enabled; }

 private:
  bool m_Enabled = true;       // guarded by m_Mutex
  bool m_ThreadOwned = false;  // guarded by m_Mutex
};
