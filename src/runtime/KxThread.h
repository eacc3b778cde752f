// KxThread: the base of the named workers. It keeps the worker's name, its display
// state, its place in the registry, the stop request of the pause handshake, its own
// event for that handshake and its share of the process's CPU time.
#pragma once

#include <atomic>
#include <string>

#include "platform/process.h"
#include "runtime/KxThreadEvent.h"
#include "runtime/PlatformThread.h"
#include "runtime/ThreadTypes.h"

class ThreadManager;

class KxThread : public PlatformThread {
 public:
  // The display states of a worker.
  enum State {
    tsSuspended = 0,  // constructed, or parked after a stop request
    tsNotBusy = 1,    // rested after a positive result
    tsBusy = 2,       // the work function returned 0
    tsIniting = 3,    // the work loop begins
    tsUnIniting = 4,  // the loop ended normally
    tsTerminate = 5,  // the work function returned -1
    tsException = 6,  // an exception ended the loop
  };

  // Created suspended. The own event comes from `registry` (null: the process's one) and
  // is marked thread-owned.
  KxThread(const std::string& name, bool comInit, ThreadManager* registry);
  ~KxThread() override;

  // Runs first on the worker; the base does nothing.
  virtual void OnInit() {}
  // Runs last on the worker; the base does nothing.
  virtual void OnUnInit() {}
  // False once a stop has been requested.
  virtual bool CanRun() { return !m_StopRequested.load(); }
  virtual void SetIndex(int index) { m_Index.store(index); }
  virtual int GetIndex() { return m_Index.load(); }
  virtual bool IsComInit() { return m_ComInit; }
  virtual const std::string& GetName() { return m_Name; }
  virtual std::string GetStateText();
  // The job; the base has none.
  virtual ThreadWork GetWorkFunc() { return {}; }
  // Pauses the worker: asks it to park and waits until it has (see the .cpp).
  virtual void Stop();
  virtual void ClearStop() { m_StopRequested.store(false); }
  virtual int GetCpuUsage() { return m_CpuUsage.load(); }
  virtual int GetKernelCpuUsage() { return m_KernelCpuUsage.load(); }
  // Hooks for a worker that carries a text; the base keeps none.
  virtual void SetText(const std::string& text) {}
  virtual std::string GetText() { return ""; }

  int GetState() const { return m_State.load(); }
  // The text of a state value; unknown values have a text too.
  static const char* StateText(int state);
  bool IsStopRequested() const { return m_StopRequested.load(); }
  KxThreadEvent* GetEvent() const { return m_Event; }
  // The callback run when the loop ends normally; set before the worker runs.
  void SetExitCallback(ThreadExitCallback callback, void* context);

  // Takes a CPU sample: at most one a second (multimedia timer), the share of the
  // thread's kernel and user time in the process's over the interval since the last one.
  // The worker calls it after each call of its work function.
  void SampleCpu();

 protected:
  void SetState(int state) { m_State.store(state); }
  // Reads the process's and this worker's CPU times; false when either cannot be read.
  virtual bool ReadCpuTimes(platform::CpuTimes* process, platform::CpuTimes* thread);

  KxThreadEvent* m_Event = nullptr;  // owned by the registry's event list
  bool m_ComInit;
  std::string m_Name;
  std::atomic<int> m_State{tsSuspended};
  std::atomic<int> m_Index{-1};
  std::atomic<bool> m_StopRequested{false};
  // The last CPU sample, in 100-ns units; written only on the worker.
  uint64_t m_PrevProcessKernel = 0;
  uint64_t m_PrevProcessUser = 0;
  uint64_t m_PrevThreadKernel = 0;
  uint64_t m_PrevThreadUser = 0;
  uint32_t m_LastSampleTime = 0;  // 0: no sample yet
  std::atomic<int> m_CpuUsage{0};
  std::atomic<int> m_KernelCpuUsage{0};
  ThreadExitCallback m_ExitCallback = nullptr;
  void* m_ExitContext = nullptr;

 private:
  void Execute() override {}
};
