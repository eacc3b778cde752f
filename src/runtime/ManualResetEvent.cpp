#include "runtime/ManualResetEvent.h"

#include <chrono>
#include <system_error>

ManualResetEvent::ManualResetEvent(const std::string& name) : m_Name(name) {}

void ManualResetEvent::SetEvent() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_Signaled = true;
  m_Condition.notify_all();
}

void ManualResetEvent::ResetEvent() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_Signaled = false;
}

bool ManualResetEvent::IsSignaled() const {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_Signaled;
}

WaitResult ManualResetEvent::WaitFor(uint32_t timeoutMs) {
  try {
    std::unique_lock<std::mutex> lock(m_Mutex);
    if (IsAbandonedLocked()) return WaitResult::Abandoned;
    auto released = [this] { return m_Signaled || IsAbandonedLocked(); };
    if (timeoutMs == kInfinite) {
      m_Condition.wait(lock, released);
    } else if (!m_Condition.wait_for(lock, std::chrono::milliseconds(timeoutMs), released)) {
      return WaitResult::Timeout;
    }
    // A waiter released by the set that came with the abandonment still reports the set.
    return m_Signaled ? WaitResult::Signaled : WaitResult::Abandoned;
  } catch (const std::system_error&) {
    return WaitResult::Error;
  }
}
