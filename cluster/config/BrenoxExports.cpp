// The exports of the configuration component.
#include "CBrenoxConfig.h"

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
__attribute__((visibility("default"))) void FreeConfig(IConfig* config) {
  delete static_cast<CBrenoxConfig*>(config);
}

}  // extern "C"

// The exports must keep the loader's types.
static_assert(sizeof(CreateConfigFunc) == sizeof(&CreateConfig));
static_assert(sizeof(FreeConfigFunc) == sizeof(&FreeConfig));
