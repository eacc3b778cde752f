// A log object for tests: records every line with its level, thread-safely, so a test
// can check the exact texts that a piece of the manager writes.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "components/LogComponent.h"
#include "interfaces/ILog.h"

class RecordingLog : public ILog {
 public:
  struct Line {
    int level;  // ELogLevel; -1 for ScriptOutput, -2 for ScriptError
    std::string text;
  };

  RecordingLog() { SetLogObjectForTesting(this); }
  ~RecordingLog() { SetLogObjectForTesting(nullptr); }

  std::vector<Line> Lines() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Lines;
  }
  // The texts written at one level, in order.
  std::vector<std::string> Texts(int level) const {
    std::vector<std::string> out;
    for (const auto& line : Lines())
      if (line.level == level) out.push_back(line.text);
    return out;
  }
  bool Contains(const std::string& text) const {
    for (const auto& line : Lines())
      if (line.text == text) return true;
    return false;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Lines.clear();
  }

#define VEMO_RECORD(name, level)                \
  void name(const char* format, ...) override { \
    va_list args;                               \
    va_start(args, format);                     \
    Record(level, format, args);                \
    va_end(args);                               \
  }
  VEMO_RECORD(TraceNomal, llNomal)
  VEMO_RECORD(TraceInfo, llInfo)
  VEMO_RECORD(TraceDebug, llDebug)
  VEMO_RECORD(TracePyWarn, llPyWarn)
  VEMO_RECORD(TraceWarn, llWarn)
  VEMO_RECORD(TraceDesign, llDesign)
  VEMO_RECORD(TracePyErr, llPyErr)
  VEMO_RECORD(TraceError, llError)
  VEMO_RECORD(TraceFatal, llFatal)
  VEMO_RECORD(LogNomal, llNomal)
  VEMO_RECORD(LogInfo, llInfo)
  VEMO_RECORD(LogDebug, llDebug)
  VEMO_RECORD(LogPyWarn, llPyWarn)
  VEMO_RECORD(LogWarn, llWarn)
  VEMO_RECORD(LogDesign, llDesign)
  VEMO_RECORD(LogPyErr, llPyErr)
  VEMO_RECORD(LogError, llError)
  VEMO_RECORD(LogFatal, llFatal)
#undef VEMO_RECORD

  void ScriptOutput(int, const char* text) override { Add(-1, text ? text : ""); }
  void ScriptError(int, const char* text) override { Add(-2, text ? text : ""); }
  void SetLogPath(const char* directory, const char*) override { m_LogPath = directory ? directory : ""; }
  int GetFatalErrorCount() override { return static_cast<int>(Texts(llFatal).size()); }
  double GetLastFatalErrorTime() override { return 0; }
  void SetMarkerFileFound(int) override {}
  void SetServerName(const char*) override {}
  const char* LogPath() override { return m_LogPath.c_str(); }
  const char* ErrorLogPath() override { return m_LogPath.c_str(); }

  std::string m_LogPath;

 private:
  void Record(int level, const char* format, va_list args) {
    char buffer[8192];
    vsnprintf(buffer, sizeof buffer, format ? format : "", args);
    Add(level, buffer);
  }
  void Add(int level, std::string text) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Lines.push_back({level, std::move(text)});
  }

  mutable std::mutex m_Mutex;
  std::vector<Line> m_Lines;
};
