// The exports of the logging component: the process's one log object and its release.
#include <mutex>

#include "CTolvarLog.h"

namespace {
std::mutex g_InstanceMutex;
CTolvarLog* g_Instance = nullptr;
}  // namespace

extern "C" {

// The same object on every call; a call after Log_Free makes a new one.
__attribute__((visibility("default"))) ILog* GetLog() {
  std::lock_guard<std::mutex> lock(g_InstanceMutex);
  if (g_Instance == nullptr) g_Instance = new CTolvarLog();
  return g_Instance;
}

// Flushes and releases the log object; the process is about to end.
__attribute__((visibility("default"))) void Log_Free() {
  std::lock_guard<std::mutex> lock(g_InstanceMutex);
  delete g_Instance;
  g_Instance = nullptr;
}

}  // extern "C"

// The exports must keep the loader's types.
static_assert(sizeof(GetLogFunc) == sizeof(&GetLog));
