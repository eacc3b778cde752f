// The logging component's interface ("Tolvar.dll"), shared by the manager and the
// component so the two can never disagree on the order of the operations.
#pragma once

#include <cstdint>

// Log levels; the leading blanks belong to the names.
enum ELogLevel : int32_t {
  llNomal = 0,
  llInfo = 1,
  llDebug = 2,
  llPyWarn = 3,
  llWarn = 4,
  llDesign = 5,
  llPyErr = 6,
  llError = 7,
  llFatal = 8,
};
constexpr int kLogLevelCount = 9;
inline const char* LogLevelName(int level) {
  static const char* const names[kLogLevelCount] = {"Nomal",  " Info", "Debug", "PyWarn", " Warn",
                                                    "Design", "PyErr", "Error", "Fatal"};
  return level >= 0 && level < kLogLevelCount ? names[level] : "";
}

#define VEMO_PRINTF(n) __attribute__((format(printf, n, n + 1)))

// The one log object of a process. Every write is thread-safe. Only the main window
// writes through the Trace set; all other code through the Log set.
class ILog {
 public:
  virtual void TraceNomal(const char* format, ...) VEMO_PRINTF(2) = 0;
  virtual void TraceInfo(const char* format, ...) VEMO_PRINTF(2) = 0;
  virtual void TraceDebug(const char* format, ...) VEMO_PRINTF(2) = 0;
  virtual void TracePyWarn(const char* format, ...) VEMO_PRINTF(2) = 0;
  virtual void TraceWarn(const char* format, ...) VEMO_PRINTF(2) = 0;
  virtual void TraceDesign(const char* format, ...) VEMO_PRINTF(2) = 0;
  virtual void TracePyErr(const char* format, ...) VEMO_PRINTF(2) = 0;
  virtual void TraceError(const char* format, ...) VEMO_PRINTF(2) = 0;
  virtual void TraceFatal(const char* format, ...) VEMO_PRINTF(2) = 0;

  // A script's ordinary output and the script host's error reports, written unchanged.
  virtual void ScriptOutput(int reserved, const char* text) = 0;
  virtual void ScriptError(int reserved, const char* text) = 0;

  // The log directory (ending in "/") and a second text (start-up passes "").
  virtual void SetLogPath(const char* directory, const char* subPath) = 0;
  virtual int GetFatalErrorCount() = 0;
  // Days since 1899-12-30 of the last fatal line; 0 when none.
  virtual double GetLastFatalErrorTime() = 0;

  virtual void LogNomal(const char* format, ...) VEMO_PRINTF(2) = 0;
  virtual void LogInfo(const char* format, ...) VEMO_PRINTF(2) = 0;
  virtual void LogDebug(const char* format, ...) VEMO_PRINTF(2) = 0;
  virtual void LogPyWarn(const char* format, ...) VEMO_PRINTF(2) = 0;
  virtual void LogWarn(const char* format, ...) VEMO_PRINTF(2) = 0;
  virtual void LogDesign(const char* format, ...) VEMO_PRINTF(2) = 0;
  virtual void LogPyErr(const char* format, ...) VEMO_PRINTF(2) = 0;
  virtual void LogError(const char* format, ...) VEMO_PRINTF(2) = 0;
  virtual void LogFatal(const char* format, ...) VEMO_PRINTF(2) = 0;

  virtual void SetMarkerFileFound(int found) = 0;
  virtual void SetServerName(const char* name) = 0;

  // The directory whose old "*.log" files the clean-up deletes, ending in "/".
  virtual const char* LogPath() = 0;
  // The directory to which the status server's error-log request appends a file name.
  virtual const char* ErrorLogPath() = 0;

 protected:
  ~ILog() = default;
};

// The component's exports.
extern "C" {
typedef ILog* (*GetLogFunc)();
typedef void (*LogFreeFunc)();
// How a program hands the components it loads the way to its log object: a function that
// yields the object at the moment a line is written (null while there is none).
typedef ILog* (*LogSourceFunc)();
}
