// ThreadManager: the process-wide registry of named workers. It starts them all at once,
// stops them all at once at shutdown (releasing any blocked on one of its events), and
// hands out the events the workers and their controllers share.
//
// Registry operations run on the window thread; work functions may read IsRunning.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "common/AList.h"
#include "runtime/KxThreadEvent.h"
#include "runtime/SingleThread.h"
#include "runtime/ThreadTypes.h"
#include "runtime/UserThread.h"

class ThreadManager {
 public:
  // The process's registry, built on first use and destroyed when the process ends.
  static ThreadManager* GetInstance();

  // A registry of its own (tests); the process uses GetInstance.
  ThreadManager();
  // Stops any workers still registered, quietly, then destroys the entries and events.
  ~ThreadManager();
  ThreadManager(const ThreadManager&) = delete;
  ThreadManager& operator=(const ThreadManager&) = delete;

  // Registers a worker, created suspended; it runs from StartAll on. Returns the worker.
  SingleThread* AddThread(const std::string& name, ThreadWorkFunc func, void* userData, bool comInit);
  // Marks the registry running and resumes every worker.
  void StartAll();
  // Marks the registry stopped, releases and disables the shared events, ends every
  // worker and waits for each, then destroys all entries. Always returns (see the .cpp).
  // A work function may call it: its own worker is ended and kept until it has left its
  // loop, and destroyed later on another thread.
  void StopAll();
  bool IsRunning() const { return m_Running.load(); }

  // A manual-reset event, unsignalled, owned by the registry.
  KxThreadEvent* CreateEvent(const std::string& name);

  int GetThreadCount() const { return m_Threads.Count(); }
  // Null outside 0 .. count - 1.
  UserThread* GetThread(int index) const { return m_Threads.Get(index); }
  int GetEventCount() const { return m_Events.Count(); }
  KxThreadEvent* GetEvent(int index) const { return m_Events.Get(index); }

 private:
  void ReleaseEvents();
  void EndWorkers(bool log);

  // Destroys the workers that were ended from their own thread once they have finished.
  void DestroyRetired(bool all);

  AList<UserThread> m_Threads{true, 10};
  AList<KxThreadEvent> m_Events{true, 10};
  // Workers whose entry went while their own thread was still inside the work function.
  std::vector<std::unique_ptr<SingleThread>> m_Retired;
  std::atomic<bool> m_Running{false};
};
