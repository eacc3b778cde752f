// UserThread: the registry's entry for one worker.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "runtime/SingleThread.h"

class UserThread {
 public:
  UserThread(const std::string& name, ThreadWorkFunc func, void* userData, bool comInit);
  ~UserThread();
  UserThread(const UserThread&) = delete;
  UserThread& operator=(const UserThread&) = delete;

  // The worker while its loop may still run; null once the loop has ended normally.
  SingleThread* GetThread() const { return m_Thread.load(); }
  // The worker object itself, kept (with its final state) until the entry goes.
  SingleThread* GetWorker() const { return m_Worker.get(); }
  const std::string& GetName() const { return m_Name; }
  ThreadWork GetWorkFunc() const { return {m_WorkFunc, m_UserData}; }
  bool IsComInit() const { return m_ComInit; }

 private:
  friend class ThreadManager;
  // The exit callback of the entry's worker: forget the running worker.
  static void OnWorkerExit(void* context, int index);

  std::atomic<SingleThread*> m_Thread{nullptr};
  std::string m_Name;
  ThreadWorkFunc m_WorkFunc;
  void* m_UserData;
  bool m_ComInit;
  // Owns the worker. The entry destroys it when it goes (joining its thread); a finished
  // worker is not destroyed earlier, since its own thread cannot wait for itself.
  std::unique_ptr<SingleThread> m_Worker;
};
