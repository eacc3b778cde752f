#include "statuslink/ErrorLogWorker.h"

#include <exception>
#include <system_error>

#include "components/LogComponent.h"

bool ErrorLogWorker::Run(Job job) {
  std::lock_guard<std::mutex> lock(m_Mutex);
  if (m_Running.load()) return false;
  if (m_Thread.joinable()) m_Thread.join();  // the last job's thread, finished
  m_Halt = false;
  m_Running = true;
  try {
    m_Thread = std::thread([this, job = std::move(job)] {
      const std::function<bool()> keepGoing = [this] { return !m_Halt.load(); };
      try {
        job(keepGoing);
      } catch (const std::exception& error) {
        LogObject()->TraceWarn("Throw exception in OnSVCCmdGetErrorLog");
        LogObject()->LogError("ErrorLogWorker: %s", error.what());
      } catch (...) {
        LogObject()->TraceWarn("Throw exception in OnSVCCmdGetErrorLog");
      }
      m_Running = false;
    });
  } catch (const std::system_error& error) {
    m_Running = false;
    LogObject()->LogError("ErrorLogWorker::Run no thread for the compression: %s", error.what());
    return false;
  }
  return true;
}

void ErrorLogWorker::Stop() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_Halt = true;
  if (m_Thread.joinable()) m_Thread.join();
}
