// A broken component for the loader tests: it exports only the functions its build
// names (GetLog, Log_Free, CreateConfig, FreeConfig). GetLog and CreateConfig return
// nothing, except that a build with Log_Free hands out a log object that writes nothing,
// and its Log_Free says on standard error that it was called.
#include <cstdio>

#include "interfaces/IConfig.h"
#include "interfaces/ILog.h"

namespace {
#ifdef EXPORT_LOGFREE
class SilentLog final : public ILog {
 public:
#define SILENT_WRITE(name) \
  void name(const char*, ...) override {}
  SILENT_WRITE(TraceNomal) SILENT_WRITE(TraceInfo) SILENT_WRITE(TraceDebug)
  SILENT_WRITE(TracePyWarn) SILENT_WRITE(TraceWarn) SILENT_WRITE(TraceDesign)
  SILENT_WRITE(TracePyErr) SILENT_WRITE(TraceError) SILENT_WRITE(TraceFatal)
  SILENT_WRITE(LogNomal) SILENT_WRITE(LogInfo) SILENT_WRITE(LogDebug)
  SILENT_WRITE(LogPyWarn) SILENT_WRITE(LogWarn) SILENT_WRITE(LogDesign)
  SILENT_WRITE(LogPyErr) SILENT_WRITE(LogError) SILENT_WRITE(LogFatal)
#undef SILENT_WRITE
  void ScriptOutput(int, const char*) override {}
  void ScriptError(int, const char*) override {}
  void SetLogPath(const char*, const char*) override {}
  int GetFatalErrorCount() override { return 0; }
  double GetLastFatalErrorTime() override { return 0; }
  void SetMarkerFileFound(int) override {}
  void SetServerName(const char*) override {}
  const char* LogPath() override { return ""; }
  const char* ErrorLogPath() override { return ""; }
};
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
