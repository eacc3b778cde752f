// A broken component for the loader tests: it exports only the functions its build
// names (GetLog, CreateConfig, FreeConfig), each returning nothing.
#include "components/IConfig.h"
#include "components/ILog.h"

extern "C" {
#ifdef EXPORT_GETLOG
__attribute__((visibility("default"))) ILog* GetLog() { return nullptr; }
#endif
#ifdef EXPORT_CREATECONFIG
__attribute__((visibility("default"))) IConfig* CreateConfig() { return nullptr; }
#endif
#ifdef EXPORT_FREECONFIG
__attribute__((visibility("default"))) void FreeConfig(IConfig*) {}
#endif
}
