// SingleThread: a worker that calls one work function again and again; the function's
// result says how long to rest, or that the worker should end.
#pragma once

#include "runtime/KxThread.h"

// The exception code under which a C++ exception caught in a work loop is reported.
constexpr uint32_t kCppExceptionCode = 0xE06D7363u;

class SingleThread : public KxThread {
 public:
  SingleThread(const std::string& name, ThreadWorkFunc func, void* userData, bool comInit, ThreadManager* registry);
  ~SingleThread() override;

  void OnInit() override;
  void OnUnInit() override;
  ThreadWork GetWorkFunc() override { return {m_WorkFunc, m_UserData}; }

 protected:
  // The work loop (see the .cpp).
  void Execute() override;

 private:
  void RunLoop();

  ThreadWorkFunc m_WorkFunc;
  void* m_UserData;
};
