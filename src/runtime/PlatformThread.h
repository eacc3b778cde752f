// The thread object the workers are built on: created suspended, resumed to run, able to
// suspend itself, with a terminated flag its loop watches and a wait for its end.
//
// Suspending is something a thread does to itself (a worker parks after a stop request),
// so it is a condition the thread waits on, never a signal sent from outside. The object
// never frees itself when its thread ends; its owner destroys it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class PlatformThread {
 public:
  // Starts the thread, which waits for the first Resume before it runs Execute.
  PlatformThread();
  virtual ~PlatformThread();
  PlatformThread(const PlatformThread&) = delete;
  PlatformThread& operator=(const PlatformThread&) = delete;

  // Lets a suspended thread (new, or parked by itself) run on; does nothing otherwise.
  void Resume();
  // Parks the calling thread, which must be this object's own, until Resume.
  void Suspend();
  // Sets the terminated flag (the loop ends at its next look) and wakes a rest.
  void Terminate();
  bool Terminated() const { return m_Terminated.load(); }
  // Waits until the thread has ended. Must not be called from the thread itself.
  void WaitFor();

  bool IsSuspended() const;
  // True once Resume has let the thread run Execute.
  bool IsStarted() const;
  // True once Execute has returned (or the thread ended without running it).
  bool IsFinished() const { return m_Finished.load(); }
  // The operating-system id of the thread, known from construction on.
  uint32_t ThreadID() const { return m_ThreadID; }
  // True when called on this object's own thread.
  bool IsCurrentThread() const { return m_Thread.get_id() == std::this_thread::get_id(); }

 protected:
  // The thread's work; runs once on the thread.
  virtual void Execute() = 0;
  // End notification: called on the thread right after Execute returns.
  virtual void DoTerminate() {}

  // Marks the thread as suspended; WaitWhileSuspended then parks it. Split in two so that
  // a thread can announce that it is parking before it tells anyone, and a Resume that
  // comes in between is not lost.
  void MarkSuspended();
  void WaitWhileSuspended();
  // Sleeps up to `ms`, ending early when the thread is terminated or `wake` returns true
  // (the caller changes what `wake` reads and then calls WakeRest).
  template <typename Wake>
  void Rest(uint32_t ms, Wake wake) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Condition.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_Terminated.load() || wake(); });
  }
  void WakeRest();
  // Ends the thread before the object goes: the most-derived destructor calls it while
  // Execute's members still exist. A thread that never ran does not run now; one that ran
  // is terminated, resumed and waited for.
  void Shutdown();

 private:
  void Run();

  mutable std::mutex m_Mutex;
  std::condition_variable m_Condition;
  bool m_Suspended = true;   // guarded by m_Mutex
  bool m_Started = false;    // guarded by m_Mutex
  bool m_Abandoned = false;  // guarded by m_Mutex: the object goes before the thread ever ran
  bool m_HaveId = false;     // guarded by m_Mutex
  std::atomic<bool> m_Terminated{false};
  std::atomic<bool> m_Finished{false};
  uint32_t m_ThreadID = 0;
  std::thread m_Thread;
};
