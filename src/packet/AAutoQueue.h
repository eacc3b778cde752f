// A recycling queue of owned elements: every element ever added stays in the element list
// (which owns it when built as owning); the free list holds those not handed out. Alloc
// takes from the front of the free list and grows it by the grow count when it is empty;
// FreeElement puts an element back at the front, so the most recently freed element is
// the next one handed out. Every operation holds the queue's recursive lock.
#pragma once

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <vector>

#include "common/AList.h"
#include "packet/PacketLog.h"
#include "packet/TLockObj.h"

template <typename T>
class AAutoQueue {
 public:
  AAutoQueue(bool ownsElements, int capacity, int growCount)
      : m_OwnsElements(ownsElements), m_Elements(ownsElements, capacity), m_GrowCount(growCount) {}
  ~AAutoQueue() { Clear(); }
  AAutoQueue(const AAutoQueue&) = delete;
  AAutoQueue& operator=(const AAutoQueue&) = delete;

  // Replaces the contents with `count` new elements, in creation order.
  void Fill(int count) {
    TLockObj lock(m_Lock);
    ClearLocked();
    m_Free.Reserve(static_cast<std::size_t>(count > 0 ? count : 0));
    for (int i = 0; i < count; ++i) AddElementLocked(new T());
  }

  // Appends an element to the element list and at the back of the free list.
  void AddElement(T* item) {
    TLockObj lock(m_Lock);
    AddElementLocked(item);
  }

  // The element at the front of the free list, or null when it is empty.
  T* GetEmpty() {
    TLockObj lock(m_Lock);
    return GetEmptyLocked();
  }

  // A free element; when none is left, first adds grow count new ones.
  T* Alloc() {
    TLockObj lock(m_Lock);
    if (EmptyCountLocked() <= 0) {
      m_Free.Reserve(static_cast<std::size_t>(CountLocked()) +
                     static_cast<std::size_t>(m_GrowCount > 0 ? m_GrowCount : 0));
      for (int i = 0; i < m_GrowCount; ++i) AddElementLocked(new T());
    }
    return GetEmptyLocked();
  }

  // Puts an element back at the front of the free list.
  void FreeElement(T* item) {
    TLockObj lock(m_Lock);
    m_Free.PushFront(item);
    if (EmptyCountLocked() > CountLocked())
      packet::Log()->LogError("Free Error : EmptyCount(%d) > Count(%d)", EmptyCountLocked(), CountLocked());
  }

  // Empties both lists, destroying the elements when owning.
  void Clear() {
    TLockObj lock(m_Lock);
    ClearLocked();
  }

  int Count() {
    TLockObj lock(m_Lock);
    return CountLocked();
  }
  int EmptyCount() {
    TLockObj lock(m_Lock);
    return EmptyCountLocked();
  }
  // The index-th element ever added, or null.
  T* Get(int index) {
    TLockObj lock(m_Lock);
    return m_Elements.Get(index);
  }
  int GetGrowCount() {
    TLockObj lock(m_Lock);
    return m_GrowCount;
  }
  void SetGrowCount(int growCount) {
    TLockObj lock(m_Lock);
    m_GrowCount = growCount;
  }
  bool OwnsElements() const { return m_OwnsElements; }
  // The queue's lock, for callers that must keep several operations together.
  std::recursive_mutex& Section() { return m_Lock; }

 private:
  // The bodies of the operations, for callers that already hold the lock.
  void AddElementLocked(T* item) {
    m_Elements.Add(item);
    m_Free.PushBack(item);
  }
  T* GetEmptyLocked() {
    if (EmptyCountLocked() < 0 || EmptyCountLocked() > CountLocked())
      packet::Log()->LogError(" AAutoQueue<T>::GetEmpty EmptyCount(%d)<0 || EmptyCount() > Count(%d)",
                              EmptyCountLocked(), CountLocked());
    return m_Free.PopFront();
  }
  void ClearLocked() {
    m_Free.Clear();
    m_Elements.Clear();
  }
  int CountLocked() const { return m_Elements.Count(); }
  int EmptyCountLocked() const { return static_cast<int>(m_Free.Size()); }

  // The free list: a double-ended queue of pointers on a ring buffer whose storage only
  // grows with the element list, so handing out and taking back never touch the heap.
  class FreeList {
   public:
    void Reserve(std::size_t capacity) {
      if (capacity <= m_Slots.size()) return;
      std::vector<T*> grown(capacity, nullptr);
      for (std::size_t i = 0; i < m_Size; ++i) grown[i] = m_Slots[(m_Head + i) % m_Slots.size()];
      m_Slots.swap(grown);
      m_Head = 0;
    }
    void PushBack(T* item) {
      MakeRoom();
      std::size_t back = m_Head + m_Size;
      if (back >= m_Slots.size()) back -= m_Slots.size();
      m_Slots[back] = item;
      ++m_Size;
    }
    void PushFront(T* item) {
      MakeRoom();
      m_Head = m_Head == 0 ? m_Slots.size() - 1 : m_Head - 1;
      m_Slots[m_Head] = item;
      ++m_Size;
    }
    T* PopFront() {
      if (m_Size == 0) return nullptr;
      T* item = m_Slots[m_Head];
      m_Slots[m_Head] = nullptr;
      if (++m_Head == m_Slots.size()) m_Head = 0;
      --m_Size;
      return item;
    }
    std::size_t Size() const { return m_Size; }
    void Clear() {
      std::fill(m_Slots.begin(), m_Slots.end(), nullptr);
      m_Head = 0;
      m_Size = 0;
    }

   private:
    void MakeRoom() {
      if (m_Size == m_Slots.size()) Reserve(m_Slots.empty() ? 16 : m_Slots.size() * 2);
    }
    std::vector<T*> m_Slots;
    std::size_t m_Head = 0;
    std::size_t m_Size = 0;
  };

  bool m_OwnsElements;
  AList<T> m_Elements;
  FreeList m_Free;
  int m_GrowCount;
  std::recursive_mutex m_Lock;
};
