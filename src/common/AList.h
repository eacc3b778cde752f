// AList: an indexed list of pointers that doubles its capacity when full.
// An owning list destroys its elements when cleared or destroyed.
#pragma once

#include <algorithm>
#include <vector>

template <typename T>
class AList {
 public:
  explicit AList(bool owning, int capacity = 10) : m_Owning(owning) {
    m_Capacity = capacity < 1 ? 1 : capacity;
    m_Slots.assign(static_cast<size_t>(m_Capacity), nullptr);
  }
  ~AList() { Clear(); }
  AList(const AList&) = delete;
  AList& operator=(const AList&) = delete;

  // Stores the element after the last one, or at position 0 when atFront is set.
  void Add(T* element, bool atFront = false) {
    Grow();
    if (atFront) {
      std::move_backward(m_Slots.begin(), m_Slots.begin() + m_Count, m_Slots.begin() + m_Count + 1);
      m_Slots[0] = element;
    } else {
      m_Slots[static_cast<size_t>(m_Count)] = element;
    }
    ++m_Count;
  }

  // Shifts the later elements up by one. Does nothing for an index outside 0..count-1,
  // except that into an empty list the element goes to position 0 whatever the index.
  void Insert(int index, T* element) {
    if (m_Count == 0) {
      Add(element);
      return;
    }
    if (index < 0 || index >= m_Count) return;
    Grow();
    std::move_backward(m_Slots.begin() + index, m_Slots.begin() + m_Count, m_Slots.begin() + m_Count + 1);
    m_Slots[static_cast<size_t>(index)] = element;
    ++m_Count;
  }

  T* Get(int index) const {
    if (index < 0 || index >= m_Count) return nullptr;
    return m_Slots[static_cast<size_t>(index)];
  }
  int Count() const { return m_Count; }
  int Capacity() const { return m_Capacity; }
  bool Owning() const { return m_Owning; }

  // Destroys the elements when owning and empties every used slot; the capacity stays.
  void Clear() {
    for (int i = 0; i < m_Count; ++i) {
      if (m_Owning) delete m_Slots[static_cast<size_t>(i)];
      m_Slots[static_cast<size_t>(i)] = nullptr;
    }
    m_Count = 0;
  }

  // Stable sort of the used slots by `less(const T*, const T*)`.
  template <typename Less>
  void Sort(Less less) {
    std::stable_sort(m_Slots.begin(), m_Slots.begin() + m_Count, less);
  }

 private:
  void Grow() {
    if (m_Count < m_Capacity) return;
    m_Capacity *= 2;
    m_Slots.resize(static_cast<size_t>(m_Capacity), nullptr);
  }

  bool m_Owning;
  std::vector<T*> m_Slots;
  int m_Count = 0;
  int m_Capacity = 1;
};
