// A scoped lock on a recursive critical section: construction enters, destruction
// leaves. A thread that holds the section may enter it again.
#pragma once

#include <mutex>

class TLockObj {
 public:
  explicit TLockObj(std::recursive_mutex& section) : m_Section(section) { m_Section.lock(); }
  ~TLockObj() { m_Section.unlock(); }
  TLockObj(const TLockObj&) = delete;
  TLockObj& operator=(const TLockObj&) = delete;

 private:
  std::recursive_mutex& m_Section;
};
