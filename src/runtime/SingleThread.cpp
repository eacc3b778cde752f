#include "runtime/SingleThread.h"

#include <exception>

#include "common/Utils.h"
#include "components/LogComponent.h"
#include "platform/crash_report.h"
#include "runtime/InfoWriter.h"

SingleThread::SingleThread(const std::string& name, ThreadWorkFunc func, void* userData, bool comInit,
                           ThreadManager* registry)
    : KxThread(name, comInit, registry), m_WorkFunc(func), m_UserData(userData) {}

SingleThread::~SingleThread() { Shutdown(); }

void SingleThread::OnInit() {
  WriteInfo("%s  Sys start id = %d; Class Start ID = %d", m_Name.c_str(), static_cast<int>(platform::CurrentThreadId()),
            static_cast<int>(ThreadID()));
  // Threads need no COM set-up on this platform; the flag is kept for callers.
}

void SingleThread::OnUnInit() {}

// The work loop, on the worker. An exception that escapes it ends only this worker,
// after one error line; the exit callback is then not called.
void SingleThread::Execute() {
  try {
    RunLoop();
  } catch (...) {
    // The exception's own type and message, where it was thrown (an offset in the module
    // that threw it), and the stack of this worker at the throw.
    platform::RecordExceptionCallStack();
    try {
      std::string description;
      uint32_t address = 0;
      if (!platform::GetLastException(description, address)) description = ExceptionCodeName(kCppExceptionCode);
      LogObject()->LogError("%s %s %0x %s", m_Name.c_str(), description.c_str(), address,
                            GetLastExceptionCallStackAsText().c_str());
    } catch (...) {
      // The error line could not be written; the state below still tells.
    }
    SetState(tsException);
    try {
      OnUnInit();
    } catch (...) {
    }
  }
}

void SingleThread::RunLoop() {
  SetState(tsIniting);
  OnInit();
  while (!Terminated()) {
    if (!CanRun()) {
      // Parked before the signal, so that a Resume right after the controller's wait
      // ends is not lost.
      MarkSuspended();
      LogObject()->LogWarn("%s Thread Stop", m_Name.c_str());
      m_Event->SetEvent();
      SetState(tsSuspended);
      WaitWhileSuspended();
      continue;
    }
    ThreadWork work = GetWorkFunc();
    if (work.Func == nullptr) {
      Rest(1, [] { return false; });
      continue;
    }
    int result = work.Func(work.UserData, GetIndex());
    SampleCpu();
    if (result == 0) {
      SetState(tsBusy);
    } else if (result > 0) {
      // The rest ends early when the worker is terminated or asked to stop.
      Rest(static_cast<uint32_t>(result), [this] { return IsStopRequested(); });
      SetState(tsNotBusy);
    } else if (result == -1) {
      SetState(tsTerminate);
      Terminate();
    }
  }
  WriteInfo("%s Thread Exit", m_Name.c_str());
  if (m_ExitCallback != nullptr) m_ExitCallback(m_ExitContext, GetIndex());
  SetState(tsUnIniting);
  OnUnInit();
}
