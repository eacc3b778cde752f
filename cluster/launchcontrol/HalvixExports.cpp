// The exports of "Halvix.dll": the one instance of the component, made on first request
// and destroyed by ReleaseLaunchControlInstance.
#include "CHalvix.h"

namespace {
CHalvix* g_Instance = nullptr;
}

extern "C" {

__attribute__((visibility("default"))) ILaunchControl* GetLaunchControlInstance() {
  if (g_Instance == nullptr) g_Instance = new CHalvix;
  return g_Instance;
}

__attribute__((visibility("default"))) void ReleaseLaunchControlInstance() {
  delete g_Instance;
  g_Instance = nullptr;
}

}  // extern "C"

static_assert(sizeof(GetLaunchControlInstanceFunc) == sizeof(&GetLaunchControlInstance));
static_assert(sizeof(ReleaseLaunchControlInstanceFunc) == sizeof(&ReleaseLaunchControlInstance));
