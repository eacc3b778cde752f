// The exports of the configuration component.
#include "CBrenoxConfig.h"

#include <type_traits>

extern "C" {

// A new configuration interface; the caller keeps it (or hands it to FreeConfig).
__attribute__((visibility("default"))) IConfig* CreateConfig() {
  try {
    return new CBrenoxConfig();
  } catch (...) {
    return nullptr;
  }
}

// Releases an interface made by CreateConfig.
__attribute__((visibility("default"))) void FreeConfig(IConfig* config) { delete static_cast<CBrenoxConfig*>(config); }

// The manager's way to its log; the component's messages go there from now on.
__attribute__((visibility("default"))) void SetConfigLog(ConfigLogFunc getLog) { BrenoxSetLog(getLog); }

}  // extern "C"

// The exports must keep the loader's types.
static_assert(sizeof(CreateConfigFunc) == sizeof(&CreateConfig));
static_assert(sizeof(FreeConfigFunc) == sizeof(&FreeConfig));
static_assert(std::is_same_v<SetConfigLogFunc, decltype(&SetConfigLog)>);
