#include "runtime/ThreadManager.h"

#include "components/LogComponent.h"
#include "platform/process.h"
#include "runtime/InfoWriter.h"

ThreadManager* ThreadManager::GetInstance() {
  static ThreadManager instance;
  return &instance;
}

ThreadManager::ThreadManager() = default;

ThreadManager::~ThreadManager() {
  // At process end the log may already be gone: end the workers without writing.
  if (m_Threads.Count() > 0) {
    m_Running = false;
    ReleaseEvents();
    EndWorkers(false);
  }
  // Workers go before the events: they hold their own events and may wait on shared ones.
  m_Threads.Clear();
  DestroyRetired(true);
  m_Events.Clear();
}

void ThreadManager::DestroyRetired(bool all) {
  std::erase_if(m_Retired, [all](const std::unique_ptr<SingleThread>& worker) {
    // A worker cannot wait for its own end; another thread destroys it later.
    if (worker->IsCurrentThread()) return false;
    return all || worker->IsFinished();  // the destructor waits for the thread
  });
}

SingleThread* ThreadManager::AddThread(const std::string& name, ThreadWorkFunc func, void* userData, bool comInit) {
  DestroyRetired(false);
  auto* entry = new UserThread(name, func, userData, comInit);
  entry->m_Worker = std::make_unique<SingleThread>(name, func, userData, comInit, this);
  SingleThread* worker = entry->m_Worker.get();
  entry->m_Thread.store(worker);
  worker->SetExitCallback(&UserThread::OnWorkerExit, entry);
  worker->SetIndex(m_Threads.Count());
  m_Threads.Add(entry);
  return worker;
}

void ThreadManager::StartAll() {
  m_Running = true;
  for (int i = 0; i < m_Threads.Count(); ++i) {
    UserThread* entry = m_Threads.Get(i);
    SingleThread* worker = entry->GetThread();
    if (worker == nullptr) continue;  // its loop has ended already
    WriteInfo("Starting thread : %s...", entry->GetName().c_str());
    // Cleared before the resume, so that a worker parked by an earlier Stop does not see
    // the old request and park again.
    worker->ClearStop();
    worker->Resume();
    WriteInfo("Starting thread : %s OK! CurrentThreadID = %d", entry->GetName().c_str(),
              static_cast<int>(platform::CurrentThreadId()));
  }
}

// Signals and disables every shared (not thread-owned) event: a worker blocked on one
// wakes, and each later wait returns Abandoned at once, so it reaches its loop's look at
// the terminated flag.
void ThreadManager::ReleaseEvents() {
  for (int i = 0; i < m_Events.Count(); ++i) {
    KxThreadEvent* event = m_Events.Get(i);
    if (event->IsThreadOwned()) continue;
    event->SignalAndDisable();
  }
}

void ThreadManager::EndWorkers(bool log) {
  for (int i = 0; i < m_Threads.Count(); ++i) {
    UserThread* entry = m_Threads.Get(i);
    SingleThread* worker = entry->GetThread();
    if (worker == nullptr) continue;
    if (log) WriteInfo("%s Thread Prepare Exit", entry->GetName().c_str());
    worker->Terminate();
    worker->Resume();
    worker->WaitFor();
  }
}

void ThreadManager::StopAll() {
  m_Running = false;
  ReleaseEvents();
  EndWorkers(true);
  WriteInfo("All Thread Exit OK!");
  // Called from a work function: that worker is still inside its loop, on its own thread.
  // It is terminated already and leaves the loop once the work function returns; it is
  // kept until then, and its exit callback, which points into the entry, is dropped.
  for (int i = 0; i < m_Threads.Count(); ++i) {
    UserThread* entry = m_Threads.Get(i);
    if (entry->m_Worker != nullptr && entry->m_Worker->IsCurrentThread()) {
      entry->m_Worker->SetExitCallback(nullptr, nullptr);
      entry->m_Thread.store(nullptr);
      m_Retired.push_back(std::move(entry->m_Worker));
    }
  }
  m_Threads.Clear();
  DestroyRetired(false);
}

KxThreadEvent* ThreadManager::CreateEvent(const std::string& name) {
  auto* event = new KxThreadEvent(name);
  m_Events.Add(event);
  return event;
}
