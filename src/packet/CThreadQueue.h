// A thread-safe first-in-first-out queue of item pointers. Each operation holds the
// queue's recursive lock. Items are given back with Release, which the item type
// supplies as ThreadQueueRelease(T*) (found beside T); PacketPop copies an item into the
// caller's with ThreadQueueCopy(T* dst, T* src) and gives the queued one back at once.
#pragma once

#include <memory>
#include <mutex>

#include "common/AQueue.h"
#include "packet/PacketLog.h"
#include "packet/TLockObj.h"

template <typename T>
class CThreadQueue {
 public:
  CThreadQueue() : m_Queue(std::make_unique<AQueue<T>>(1000)) {}
  // Gives back every item still queued.
  virtual ~CThreadQueue() { Clear(); }
  CThreadQueue(const CThreadQueue&) = delete;
  CThreadQueue& operator=(const CThreadQueue&) = delete;

  // Moves the front item's contents into `out` and releases the item; false (and `out`
  // untouched) when there is none.
  virtual bool PacketPop(T* out) {
    TLockObj lock(m_Lock);
    if (m_Queue->Count() <= 0 || out == nullptr) return false;
    T* item = m_Queue->Pop();
    if (item == nullptr) {
      packet::Log()->LogWarn("CThreadQueue<T>::PacketPop(T * Packet)  m_Queue->Pop()== NULL");
      return false;
    }
    ThreadQueueCopy(out, item);
    Release(item);
    return true;
  }
  virtual bool Push(T* item) {
    TLockObj lock(m_Lock);
    m_Queue->Push(item);
    return true;
  }
  // The front item, removed; null when empty.
  virtual T* Pop() {
    TLockObj lock(m_Lock);
    return m_Queue->Pop();
  }
  // The front item, left in place; null when empty.
  virtual T* Front() {
    TLockObj lock(m_Lock);
    return m_Queue->Front();
  }
  virtual void Release(T* item) { ThreadQueueRelease(item); }
  virtual int GetCount() {
    TLockObj lock(m_Lock);
    return m_Queue->Count();
  }

  // Releases every queued item.
  void Clear() {
    TLockObj lock(m_Lock);
    while (m_Queue->Count() > 0) {
      T* item = m_Queue->Pop();
      if (item != nullptr)
        Release(item);
      else
        packet::Log()->LogWarn("CThreadQueue<T>::Clear()  m_Queue->Pop()== NULL");
    }
  }

 private:
  std::recursive_mutex m_Lock;
  std::unique_ptr<AQueue<T>> m_Queue;
};
