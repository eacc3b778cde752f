// AQueue: a first-in first-out queue of pointers. It never destroys what it still holds
// and has no lock (the packet queue adds one).
#pragma once

#include <deque>

template <typename T>
class AQueue {
 public:
  // The capacity places no limit on the queue.
  explicit AQueue(int capacity = 1000) { (void)capacity; }

  void Push(T* element) { m_Items.push_back(element); }
  T* Pop() {
    if (m_Items.empty()) return nullptr;
    T* front = m_Items.front();
    m_Items.pop_front();
    return front;
  }
  T* Front() const { return m_Items.empty() ? nullptr : m_Items.front(); }
  int Count() const { return static_cast<int>(m_Items.size()); }

 private:
  std::deque<T*> m_Items;
};
