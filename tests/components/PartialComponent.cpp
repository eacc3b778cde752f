// A broken component for the loader tests: it exports only the functions its build
// names (GetLog, Log_Free, CreateConfig, FreeConfig). GetLog and CreateConfig return
// nothing, except that a build with Log_Free hands out a log object that writes nothing,
// and its Log_Free says on standard error that it was called.
#include <cstdio>

#include "interfaces/IConfig.h"
#include "interfaces/ILog.h"
#include "interfaces/SilentLog.h"

namespace {
#ifdef EXPORT_LOGFREE
SilentLog g_Silent;
#endif
}  // namespace

extern "C" {
#ifdef EXPORT_GETLOG
__attribute__((visibility("default"))) ILog* GetLog() {
#ifdef EXPORT_LOGFREE
  return &g_Silent;
#else
  return nullptr;
#endif
}
#endif
#ifdef EXPORT_LOGFREE
__attribute__((visibility("default"))) void Log_Free() { std::fputs("Log_Free\n", stderr); }
#endif
#ifdef EXPORT_CREATECONFIG
__attribute__((visibility("default"))) IConfig* CreateConfig() { return nullptr; }
#endif
#ifdef EXPORT_FREECONFIG
__attribute__((visibility("default"))) void FreeConfig(IConfig*) {}
#endif
}
