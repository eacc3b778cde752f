#include "runtime/PlatformThread.h"

#include "platform/process.h"

PlatformThread::PlatformThread() {
  m_Thread = std::thread([this] { Run(); });
  std::unique_lock<std::mutex> lock(m_Mutex);
  m_Condition.wait(lock, [this] { return m_HaveId; });
}

PlatformThread::~PlatformThread() { Shutdown(); }

void PlatformThread::Run() {
  {
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_ThreadID = platform::CurrentThreadId();
    m_HaveId = true;
    m_Condition.notify_all();
    m_Condition.wait(lock, [this] { return !m_Suspended || m_Abandoned; });
    if (m_Abandoned && !m_Started) {
      m_Finished = true;
      return;
    }
  }
  Execute();
  DoTerminate();
  m_Finished = true;
}

void PlatformThread::Resume() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  if (!m_Suspended) return;
  m_Suspended = false;
  m_Started = true;
  m_Condition.notify_all();
}

void PlatformThread::Suspend() {
  MarkSuspended();
  WaitWhileSuspended();
}

void PlatformThread::MarkSuspended() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_Suspended = true;
}

void PlatformThread::WaitWhileSuspended() {
  std::unique_lock<std::mutex> lock(m_Mutex);
  m_Condition.wait(lock, [this] { return !m_Suspended; });
}

void PlatformThread::Terminate() {
  m_Terminated = true;
  WakeRest();
}

void PlatformThread::WakeRest() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_Condition.notify_all();
}

void PlatformThread::WaitFor() {
  if (m_Thread.joinable() && m_Thread.get_id() != std::this_thread::get_id()) m_Thread.join();
}

bool PlatformThread::IsSuspended() const {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_Suspended;
}

bool PlatformThread::IsStarted() const {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_Started;
}

void PlatformThread::Shutdown() {
  if (!m_Thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (!m_Started) {
      m_Abandoned = true;
      m_Condition.notify_all();
    }
  }
  if (IsStarted()) {
    Terminate();
    Resume();
  }
  if (m_Thread.get_id() == std::this_thread::get_id()) {
    // Destroyed from its own thread: nobody can wait for it, let it end on its own.
    m_Thread.detach();
    return;
  }
  m_Thread.join();
}
