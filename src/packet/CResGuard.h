// A critical section with an entry count, and its scoped guard. One process-wide guard
// protects the creation of process-wide objects (the packet pool).
#pragma once

#include <atomic>
#include <mutex>

namespace SingletonEx {

class CResGuard {
 public:
  CResGuard() = default;
  CResGuard(const CResGuard&) = delete;
  CResGuard& operator=(const CResGuard&) = delete;

  // Whether some thread is inside.
  bool IsGuarded() const { return m_GuardCount.load() > 0; }

 private:
  friend class CGuard;
  void Guard() {
    m_Section.lock();
    m_GuardCount.fetch_add(1);
  }
  void Unguard() {
    m_GuardCount.fetch_sub(1);
    m_Section.unlock();
  }

  std::recursive_mutex m_Section;
  std::atomic<long> m_GuardCount{0};
};

// Enters the guard on construction and leaves it on destruction.
class CGuard {
 public:
  explicit CGuard(CResGuard& guard) : m_Guard(guard) { m_Guard.Guard(); }
  ~CGuard() { m_Guard.Unguard(); }
  CGuard(const CGuard&) = delete;
  CGuard& operator=(const CGuard&) = delete;

 private:
  CResGuard& m_Guard;
};

// The process-wide guard, created when the program starts.
CResGuard& ProcessGuard();

}  // namespace SingletonEx
