// The log object of the logging component "Tolvar.dll".
//
// Every line goes to a daily file "<ServerName>_<yyyy-mm-dd>.log" in the log directory:
//   [2026-12-09 15:30:01.123][ Info] text
// the local date and time, the level's name in brackets (leading blanks kept) and the text,
// byte for byte (texts are single-byte or GBK and are never re-encoded). The Trace and the
// Log sets write exactly the same way; they differ only in who calls them.
//
// Script output and script errors are written unchanged with the tags "Script" and
// "ScriptErr"; one trailing line feed is dropped because every entry ends a line, and a text
// that is empty or only a line feed writes nothing.
//
// Lines at " Warn" and above (" Warn", "Design", "PyErr", "Error", "Fatal") and script errors
// also go to standard error, so that an operator watching a terminal sees trouble at once.
// When the marker file was found (a developer's machine), every line goes there too.
//
// Directories: until SetLogPath is called the files go to the platform's log directory
// ($VEMO_LOG_DIR or "ServerLog/" beside the executable). SetLogPath(directory, sub) puts
// them in the directory, or in its subdirectory `sub` when that is not empty; LogPath()
// and ErrorLogPath() both name the directory that holds the files, ending in "/", so the
// old-log clean-up and the status server's error-log request find them. A missing
// directory is created. Until SetServerName is called the file name starts with the
// executable's name.
//
// Every operation is thread-safe. Nothing throws out of the component: a file that
// cannot be opened is reported once on standard error and its lines go to standard error.
#pragma once

#include <cstdarg>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "interfaces/ILog.h"

namespace spdlog::sinks {
class sink;
}

class CTolvarLog final : public ILog {
 public:
  CTolvarLog();
  ~CTolvarLog();
  CTolvarLog(const CTolvarLog&) = delete;
  CTolvarLog& operator=(const CTolvarLog&) = delete;

  void TraceNomal(const char* format, ...) override VEMO_PRINTF(2);
  void TraceInfo(const char* format, ...) override VEMO_PRINTF(2);
  void TraceDebug(const char* format, ...) override VEMO_PRINTF(2);
  void TracePyWarn(const char* format, ...) override VEMO_PRINTF(2);
  void TraceWarn(const char* format, ...) override VEMO_PRINTF(2);
  void TraceDesign(const char* format, ...) override VEMO_PRINTF(2);
  void TracePyErr(const char* format, ...) override VEMO_PRINTF(2);
  void TraceError(const char* format, ...) override VEMO_PRINTF(2);
  void TraceFatal(const char* format, ...) override VEMO_PRINTF(2);

  void ScriptOutput(int reserved, const char* text) override;
  void ScriptError(int reserved, const char* text) override;

  void SetLogPath(const char* directory, const char* subPath) override;
  int GetFatalErrorCount() override;
  double GetLastFatalErrorTime() override;

  void LogNomal(const char* format, ...) override VEMO_PRINTF(2);
  void LogInfo(const char* format, ...) override VEMO_PRINTF(2);
  void LogDebug(const char* format, ...) override VEMO_PRINTF(2);
  void LogPyWarn(const char* format, ...) override VEMO_PRINTF(2);
  void LogWarn(const char* format, ...) override VEMO_PRINTF(2);
  void LogDesign(const char* format, ...) override VEMO_PRINTF(2);
  void LogPyErr(const char* format, ...) override VEMO_PRINTF(2);
  void LogError(const char* format, ...) override VEMO_PRINTF(2);
  void LogFatal(const char* format, ...) override VEMO_PRINTF(2);

  void SetMarkerFileFound(int found) override;
  void SetServerName(const char* name) override;

  const char* LogPath() override;
  const char* ErrorLogPath() override;

  // Writes what is buffered to the file.
  void Flush();

 private:
  void WriteFormatted(int level, const char* format, va_list args);
  // Writes one entry: `tag` in brackets, then `text` unchanged.
  void Write(const char* tag, const std::string& text, bool toStderr, bool fatal);
  // Opens the daily file for the current directory and server name; called under m_Mutex.
  void OpenFileSink();

  std::mutex m_Mutex;
  std::string m_Directory;   // where the files go, ending in "/"
  // Every directory text handed out by LogPath() and ErrorLogPath(), so that a pointer a
  // caller still holds stays valid when the path changes.
  std::list<std::string> m_PathTexts;
  std::string m_ServerName;
  bool m_MarkerFileFound = false;
  int m_FatalCount = 0;
  double m_LastFatalTime = 0;
  std::shared_ptr<spdlog::sinks::sink> m_File;    // null until the first line, or after a change
  std::shared_ptr<spdlog::sinks::sink> m_Stderr;
  bool m_FileFailed = false;  // the current file could not be opened (reported once)
};
