#include "runtime/KxThread.h"

#include "components/LogComponent.h"
#include "platform/clock.h"
#include "runtime/InfoWriter.h"
#include "runtime/ThreadManager.h"

KxThread::KxThread(const std::string& name, bool comInit, ThreadManager* registry) : m_ComInit(comInit), m_Name(name) {
  if (registry == nullptr) registry = ThreadManager::GetInstance();
  m_Event = registry->CreateEvent("");
  m_Event->SetThreadOwned(true);
}

KxThread::~KxThread() { Shutdown(); }

const char* KxThread::StateText(int state) {
  switch (state) {
    case tsSuspended: return "Suspended";
    case tsNotBusy: return "Not Busy :)";
    case tsBusy: return "Busy";
    case tsIniting: return "Initing..";
    case tsUnIniting: return "UnIniting...";
    case tsTerminate: return "Terminate!";
    case tsException: return "Exception Error";
    default: return "KxThread UnDefined State";
  }
}

std::string KxThread::GetStateText() { return StateText(GetState()); }

void KxThread::SetExitCallback(ThreadExitCallback callback, void* context) {
  m_ExitCallback = callback;
  m_ExitContext = context;
}

// Runs on the controlling thread. The worker sees the request at the top of its loop,
// marks itself parked, signals the own event and parks; this side waits for the signal
// and resets the event. The worker then stays parked in state 0 until ClearStop and
// Resume.
void KxThread::Stop() {
  if (Terminated()) return;
  // A worker that never ran or has ended cannot answer; one already parked by an
  // earlier stop has answered. Waiting for any of them would never end.
  if (!IsStarted() || IsFinished()) return;
  if (m_StopRequested.load() && IsSuspended()) return;
  // Written before the request, so the worker's "Thread Stop" line always follows it.
  WriteInfo("%s Stopping...", m_Name.c_str());
  m_StopRequested.store(true);
  WakeRest();
  // No time limit, but a worker that dies of an exception meanwhile never signals.
  while (m_Event->WaitFor(100) == WaitResult::Timeout) {
    if (IsFinished()) break;
  }
  m_Event->ResetEvent();
  WriteInfo("%s Stopp OK", m_Name.c_str());
}

bool KxThread::ReadCpuTimes(platform::CpuTimes* process, platform::CpuTimes* thread) {
  uint32_t pid = platform::CurrentProcessId();
  return platform::GetProcessTimes(pid, process) && platform::GetThreadTimes(pid, ThreadID(), thread);
}

void KxThread::SampleCpu() {
  uint32_t now = platform::TimeGetTime();
  if (m_LastSampleTime != 0 && now - m_LastSampleTime < 1000) return;
  platform::CpuTimes process;
  platform::CpuTimes thread;
  if (!ReadCpuTimes(&process, &thread)) return;
  bool first = m_PrevProcessKernel == 0 || m_PrevProcessUser == 0 || m_LastSampleTime == 0;
  uint64_t processKernel = process.Kernel - m_PrevProcessKernel;
  uint64_t processUser = process.User - m_PrevProcessUser;
  uint64_t threadKernel = thread.Kernel - m_PrevThreadKernel;
  uint64_t threadUser = thread.User - m_PrevThreadUser;
  m_PrevProcessKernel = process.Kernel;
  m_PrevProcessUser = process.User;
  m_PrevThreadKernel = thread.Kernel;
  m_PrevThreadUser = thread.User;
  m_LastSampleTime = now;
  if (first) return;
  double whole = static_cast<double>(processKernel) + static_cast<double>(processUser);
  if (whole <= 0) {
    m_CpuUsage.store(0);
    m_KernelCpuUsage.store(0);
    return;
  }
  double threadAll = static_cast<double>(threadKernel) + static_cast<double>(threadUser);
  m_CpuUsage.store(static_cast<int>(threadAll / whole * 100));
  m_KernelCpuUsage.store(static_cast<int>(static_cast<double>(threadKernel) / whole * 100));
}
