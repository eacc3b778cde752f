// The lock of the map list: many readers or one rebuilder, with the rebuilder first. Once
// the window thread wants to rebuild, new readers wait until it is done, so a thread that
// reads the list often can never keep a rebuild out for good; the rebuilder itself waits
// only for the readers already inside, and only as long as its caller lets it.
//
// It meets the standard lockable requirements: std::shared_lock<MapListLock> for readers,
// std::unique_lock<MapListLock> for the rebuilder.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

class MapListLock {
 public:
  void lock_shared() {
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Changed.wait(lock, [this] { return !m_RebuildWaiting && !m_Rebuilding; });
    ++m_Readers;
  }
  bool try_lock_shared() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_RebuildWaiting || m_Rebuilding) return false;
    ++m_Readers;
    return true;
  }
  void unlock_shared() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (--m_Readers == 0) m_Changed.notify_all();
  }

  void lock() { LockUnless(nullptr); }
  bool try_lock() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_Readers != 0 || m_Rebuilding) return false;
    m_Rebuilding = true;
    return true;
  }
  void unlock() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Rebuilding = false;
    m_Changed.notify_all();
  }

  // Takes the list exclusively, waiting for the readers inside in short steps and asking
  // `giveUp` between them; false (nothing held) when it gave up.
  bool LockUnless(const std::function<bool()>& giveUp) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Changed.wait(lock, [this] { return !m_RebuildWaiting && !m_Rebuilding; });
    m_RebuildWaiting = true;
    while (m_Readers != 0) {
      m_Changed.wait_for(lock, std::chrono::milliseconds(2));
      if (m_Readers != 0 && giveUp) {
        lock.unlock();
        const bool stop = giveUp();
        lock.lock();
        if (stop) {
          m_RebuildWaiting = false;
          m_Changed.notify_all();
          return false;
        }
      }
    }
    m_RebuildWaiting = false;
    m_Rebuilding = true;
    return true;
  }

 private:
  std::mutex m_Mutex;
  std::condition_variable m_Changed;
  int m_Readers = 0;
  bool m_RebuildWaiting = false;
  bool m_Rebuilding = false;
};
