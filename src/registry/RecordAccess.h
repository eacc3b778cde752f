// Access to the fields of a shared record that more than one thread or process writes.
//
// A record lives in shared memory: the map server writes its figures, the manager's window
// thread lowers the heartbeat and posts requests, and the start worker clears the record
// and writes the launch facts. The fields that both sides write (State, HeartBeat) and the
// requests go through these accessors, which are single 32-bit atomic operations on the
// naturally aligned words of the record; every other word the manager touches while
// another of its threads may, too, goes through RecordLoad and RecordStore.
//
// Ordering: a request is published with release order after the text it refers to, so a
// map server that sees CloseRequest with acquire order also sees the ScriptCmd written
// before it.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "interfaces/tagMapServerData.h"

namespace record {

// A relaxed atomic read or write of one naturally aligned 32-bit field of a record.
template <class T>
T Load(const T& field) {
  static_assert(sizeof(T) == 4 && std::is_trivially_copyable_v<T>);
  const uint32_t bits =
      std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(const_cast<T*>(&field))).load(std::memory_order_relaxed);
  T value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

template <class T>
void Store(T& field, T value) {
  static_assert(sizeof(T) == 4 && std::is_trivially_copyable_v<T>);
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(&field)).store(bits, std::memory_order_relaxed);
}

inline int32_t State(const tagMapServerData& r) { return Load(r.State); }
inline void SetState(tagMapServerData& r, int32_t state) { Store(r.State, state); }
inline int32_t HeartBeat(const tagMapServerData& r) { return Load(r.HeartBeat); }

// Lowers or resets the heartbeat from `expected` to `desired` unless the map server wrote
// it in between; false when it did (its raise wins, the manager tries again next tick).
inline bool ReplaceHeartBeat(tagMapServerData& r, int32_t expected, int32_t desired) {
  return std::atomic_ref<int32_t>(r.HeartBeat).compare_exchange_strong(expected, desired, std::memory_order_relaxed);
}

inline uint32_t ProcessId(const tagMapServerData& r) { return Load(r.ProcessId); }
inline void SetProcessId(tagMapServerData& r, uint32_t pid) { Store(r.ProcessId, pid); }
inline uint32_t Hwnd(const tagMapServerData& r) { return Load(r.Hwnd); }
inline int32_t PlayerCnt(const tagMapServerData& r) { return Load(r.PlayerCnt); }

// The seven log counters, "Debug" to "Fatal", each byte widened to an int.
inline std::array<int, 7> LogLevelCounts(const tagMapServerData& r) {
  std::array<int, 7> counts{};
  for (std::size_t i = 0; i < counts.size(); ++i)
    counts[i] = std::atomic_ref<uint8_t>(const_cast<uint8_t&>(r.LogLevelCounts[i])).load(std::memory_order_relaxed);
  return counts;
}

// The requests to the map server. A request is set after anything it refers to.
inline void PostCloseRequest(tagMapServerData& r) {
  std::atomic_ref<int32_t>(r.CloseRequest).store(1, std::memory_order_release);
}
inline int32_t CloseRequest(const tagMapServerData& r) {
  return std::atomic_ref<int32_t>(const_cast<int32_t&>(r.CloseRequest)).load(std::memory_order_acquire);
}
inline void PostResetLogRequest(tagMapServerData& r) {
  std::atomic_ref<int32_t>(r.ResetLogRequest).store(1, std::memory_order_release);
}

// Writes a script for the map server: all 1024 bytes zeroed, then at most 1023 bytes of
// the text, so a zero byte always ends it inside the buffer. Word by word, so that a
// concurrent reader in this process never meets a torn write.
void WriteScriptCmd(tagMapServerData& r, const std::string& text);

// Sets all 2200 bytes of the record to zero, one atomic word at a time.
void Zero(tagMapServerData& r);

// Copies a record text buffer (up to its first zero byte, or the whole buffer when it has
// none) with relaxed atomic reads, so a map server or a thread writing it never makes the
// read go past the buffer or tear.
std::string Text(const char* field, std::size_t size);
template <std::size_t N>
std::string Text(const char (&field)[N]) {
  return Text(field, N);
}

}  // namespace record
