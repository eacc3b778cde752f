// The manager's access to the configuration component: loaded the first time the
// configuration is needed and kept until the process ends.
#include "components/ConfigComponent.h"

#include <mutex>
#include <string>

#include "components/LogComponent.h"
#include "platform/library.h"

namespace {

std::mutex g_Mutex;
CreateConfigFunc g_CreateConfig = nullptr;
FreeConfigFunc g_FreeConfig = nullptr;  // resolved so a broken component is caught early; never called
IConfig* g_Config = nullptr;

// The configuration component's way to the log; loads the log component only when the
// configuration has something to say.
ILog* ManagerLog() { return LogObject(); }

// Loads the component and resolves its exports; the text of the first failure, "" when
// loaded. Called under g_Mutex.
std::string LoadComponent() {
  if (g_CreateConfig != nullptr) return "";
  platform::Library library("Brenox.dll");
  if (!library) return "Can't find Brenox.dll!!!Fail to start server!!!";
  auto create = library.Resolve<CreateConfigFunc>("CreateConfig");
  if (create == nullptr) return "Can't find CreateConfig function in Brenox module!!!Fail to start server!!!";
  auto free = library.Resolve<FreeConfigFunc>("FreeConfig");
  if (free == nullptr) return "Can't find FreeConfig function in Brenox module!!!Fail to start server!!!";
  g_CreateConfig = create;
  g_FreeConfig = free;
  // Optional: a component that can write to the manager's log is told how to reach it.
  if (auto setLog = library.Resolve<SetConfigLogFunc>("SetConfigLog")) setLog(&ManagerLog);
  // The configuration is used until the process ends.
  library.KeepLoaded();
  return "";
}

}  // namespace

IConfig* CreateConfigInterface(std::string* failure) {
  std::lock_guard<std::mutex> lock(g_Mutex);
  if (g_Config != nullptr) return g_Config;
  const std::string loadFailure = LoadComponent();
  if (!loadFailure.empty()) {
    if (failure != nullptr) *failure = loadFailure;
    return nullptr;
  }
  g_Config = g_CreateConfig();
  return g_Config;
}
