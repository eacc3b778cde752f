// A log object that writes nothing: for code that was handed no log (its lines go nowhere)
// and for benchmarks, which measure the code, not the log component.
#pragma once

#include "interfaces/ILog.h"

class SilentLog : public ILog {
 public:
  void TraceNomal(const char*, ...) override {}
  void TraceInfo(const char*, ...) override {}
  void TraceDebug(const char*, ...) override {}
  void TracePyWarn(const char*, ...) override {}
  void TraceWarn(const char*, ...) override {}
  void TraceDesign(const char*, ...) override {}
  void TracePyErr(const char*, ...) override {}
  void TraceError(const char*, ...) override {}
  void TraceFatal(const char*, ...) override {}
  void ScriptOutput(int, const char*) override {}
  void ScriptError(int, const char*) override {}
  void SetLogPath(const char*, const char*) override {}
  int GetFatalErrorCount() override { return 0; }
  double GetLastFatalErrorTime() override { return 0; }
  void LogNomal(const char*, ...) override {}
  void LogInfo(const char*, ...) override {}
  void LogDebug(const char*, ...) override {}
  void LogPyWarn(const char*, ...) override {}
  void LogWarn(const char*, ...) override {}
  void LogDesign(const char*, ...) override {}
  void LogPyErr(const char*, ...) override {}
  void LogError(const char*, ...) override {}
  void LogFatal(const char*, ...) override {}
  void SetMarkerFileFound(int) override {}
  void SetServerName(const char*) override {}
  const char* LogPath() override { return ""; }
  const char* ErrorLogPath() override { return ""; }
};
