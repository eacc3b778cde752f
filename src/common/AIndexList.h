// AIndexList and AIndexListPro: (key, pointer) lists kept sorted by ascending key with
// unique keys, searched by bisection. AIndexList has unsigned 32-bit keys; AIndexListPro
// any ordered key (a text or ELogLevel). An owning list destroys its values on Clear and
// destruction; an owning AIndexListPro also destroys a value whose Add failed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

template <typename K, typename V, bool DestroyRejected>
class AIndexListBase {
 public:
  explicit AIndexListBase(bool owning) : m_Owning(owning) {}
  ~AIndexListBase() { Clear(); }
  AIndexListBase(const AIndexListBase&) = delete;
  AIndexListBase& operator=(const AIndexListBase&) = delete;

  // Inserts the pair at its place; false when the key is present already.
  bool Add(const K& key, V* value) {
    auto it = LowerBound(key);
    if (it != m_Pairs.end() && !(key < it->first)) {
      if (DestroyRejected && m_Owning) delete value;
      return false;
    }
    m_Pairs.insert(it, std::make_pair(key, value));
    return true;
  }

  V* Find(const K& key) const {
    auto it = LowerBound(key);
    if (it != m_Pairs.end() && !(key < it->first)) return it->second;
    return nullptr;
  }

  // Removes the pair (destroying the value when owning); false when absent.
  bool Remove(const K& key) {
    auto it = LowerBound(key);
    if (it == m_Pairs.end() || key < it->first) return false;
    if (m_Owning) delete it->second;
    m_Pairs.erase(it);
    return true;
  }

  V* Get(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return m_Pairs[static_cast<size_t>(index)].second;
  }
  const K* GetKey(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return &m_Pairs[static_cast<size_t>(index)].first;
  }
  int Count() const { return static_cast<int>(m_Pairs.size()); }

  void Clear() {
    if (m_Owning)
      for (auto& pair : m_Pairs) delete pair.second;
    m_Pairs.clear();
  }

 private:
  using Pairs = std::vector<std::pair<K, V*>>;
  typename Pairs::const_iterator LowerBound(const K& key) const {
    return std::lower_bound(m_Pairs.begin(), m_Pairs.end(), key,
                            [](const std::pair<K, V*>& p, const K& k) { return p.first < k; });
  }
  typename Pairs::iterator LowerBound(const K& key) {
    return std::lower_bound(m_Pairs.begin(), m_Pairs.end(), key,
                            [](const std::pair<K, V*>& p, const K& k) { return p.first < k; });
  }

  bool m_Owning;
  Pairs m_Pairs;
};

template <typename T>
class AIndexList : public AIndexListBase<uint32_t, T, false> {
 public:
  explicit AIndexList(bool owning) : AIndexListBase<uint32_t, T, false>(owning) {}
};

template <typename K, typename V>
class AIndexListPro : public AIndexListBase<K, V, true> {
 public:
  explicit AIndexListPro(bool owning) : AIndexListBase<K, V, true>(owning) {}
};
