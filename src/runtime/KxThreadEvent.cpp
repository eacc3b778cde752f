#include "runtime/KxThreadEvent.h"

KxThreadEvent::KxThreadEvent(const std::string& name) : ManualResetEvent(name) {}

bool KxThreadEvent::IsEnabled() const {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_Enabled;
}

void KxThreadEvent::SetEnabled(bool enabled) {
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_Enabled = enabled;
  WakeAllLocked();
}

void KxThreadEvent::SignalAndDisable() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_Enabled = false;
  SetEventLocked();
}

bool KxThreadEvent::IsThreadOwned() const {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_ThreadOwned;
}

void KxThreadEvent::SetThreadOwned(bool owned) {
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_ThreadOwned = owned;
}
