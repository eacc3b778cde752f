// The manager's access to the logging component "Tolvar.dll": loaded on first use, from
// any thread, and kept until the process ends.
#include "components/LogComponent.h"

#include <atomic>
#include <mutex>
#include <string>

#include "interfaces/SilentLog.h"
#include "platform/debug_output.h"
#include "platform/library.h"
#include "platform/process.h"

namespace {

std::atomic<ILog*> g_TestLog{nullptr};
std::atomic<ILog*> g_Log{nullptr};
std::mutex g_LoadMutex;
bool g_Loaded = false;
GetLogFunc g_GetLog = nullptr;
LogFreeFunc g_LogFree = nullptr;

std::string g_LoadFailure;  // the first load's failure; it is not tried again

// Loads the component and resolves its exports; the text of the failure, "" when loaded.
// Called under g_LoadMutex.
std::string LoadComponent() {
  if (g_Loaded || !g_LoadFailure.empty()) return g_LoadFailure;
  platform::Library library("Tolvar.dll");
  if (!library) return g_LoadFailure = "Can't find tolvar.dll!!!Fail to start server!!!";
  auto getLog = library.Resolve<GetLogFunc>("GetLog");
  auto logFree = library.Resolve<LogFreeFunc>("Log_Free");
  if (getLog == nullptr || logFree == nullptr) {
    return g_LoadFailure = getLog == nullptr
                               ? "Can't find GetLog function in tolvar module!!!Fail to start server!!!"
                               : "Can't find Log_Free function in tolvar module!!!Fail to start server!!!";
  }
  // The log is written to until the process ends.
  library.KeepLoaded();
  g_Loaded = true;
  g_GetLog = getLog;
  g_LogFree = logFree;
  // Only a loaded component is flushed when the process ends at once: a failure above must
  // not come back here for the lock this load holds.
  platform::AtEndProcess(&ReleaseLogObject);
  return "";
}

}  // namespace

bool LoadLogComponent(std::string* failure) {
  std::lock_guard<std::mutex> lock(g_LoadMutex);
  const std::string loadFailure = LoadComponent();
  if (failure != nullptr) *failure = loadFailure;
  return loadFailure.empty();
}

ILog* LogObject() {
  if (ILog* test = g_TestLog.load(std::memory_order_acquire)) return test;
  if (ILog* log = g_Log.load(std::memory_order_acquire)) return log;
  std::lock_guard<std::mutex> lock(g_LoadMutex);
  if (ILog* log = g_Log.load(std::memory_order_acquire)) return log;
  if (const bool firstTry = g_LoadFailure.empty(); !LoadComponent().empty()) {
    // Lines written before start-up learns of the failure go nowhere.
    if (firstTry) platform::OutputDebugString("LogObject: " + g_LoadFailure);
    static SilentLog silent;
    return &silent;
  }
  ILog* log = g_GetLog();
  g_Log.store(log, std::memory_order_release);
  return log;
}

void ReleaseLogObject() {
  std::lock_guard<std::mutex> lock(g_LoadMutex);
  if (g_Log.load(std::memory_order_acquire) == nullptr || g_LogFree == nullptr) return;
  // Forget the object first so that no caller is handed a released one; a later
  // LogObject() asks the component again.
  g_Log.store(nullptr, std::memory_order_release);
  g_LogFree();
}

void SetLogObjectForTesting(ILog* log) { g_TestLog.store(log, std::memory_order_release); }
