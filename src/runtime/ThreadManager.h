// ThreadManager: the process-wide registry of named workers. It starts them all at once,
// stops them all at once at shutdown (releasing any blocked on one of its events), and
// hands out the events the workers and their controllers share.
//
// Registry operations run on the window thread; work functions may read IsRunning.
#pragma once

#include <atomic>
#include <string>

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

  AList<UserThread> m_Threads{true, 10};
  AList<KxThreadEvent> m_Events{true, 10};
  std::atomic<bool> m_Running{false};
};
