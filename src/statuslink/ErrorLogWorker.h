// A thread of its own for the one slow request of the status link: compressing a large
// error log. The request thread hands the job over and goes on polling, so heartbeats and
// figures keep flowing while a log of gigabytes is compressed; the job sends its reply
// itself when it is done. One job at a time.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

class ErrorLogWorker {
 public:
  // A job runs once; `keepGoing` turns false when the worker is stopped, and a job asks it
  // often enough to end soon afterwards.
  using Job = std::function<void(const std::function<bool()>& keepGoing)>;

  ErrorLogWorker() = default;
  ~ErrorLogWorker() { Stop(); }
  ErrorLogWorker(const ErrorLogWorker&) = delete;
  ErrorLogWorker& operator=(const ErrorLogWorker&) = delete;

  // Starts `job` on the worker's thread; false (and the job not run) while another job
  // runs or when no thread can be made.
  bool Run(Job job);
  // Asks a running job to halt and waits for its thread; later jobs may run again.
  void Stop();

 private:
  std::mutex m_Mutex;  // Run and Stop
  std::thread m_Thread;
  std::atomic<bool> m_Running{false};
  std::atomic<bool> m_Halt{false};
};
