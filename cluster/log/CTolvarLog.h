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
// Each line is appended to the file with one write as soon as it is logged, so a crash
// takes no line with it. The directory is created 0750 and the files 0640: logs quote what
// peers and map servers send, and are for the operator's group only.
//
// A file that cannot be written (a full disk, a directory that went away) costs only the
// lines it could not take: a line that fits only in part is cut off again, so the file never
// holds half a line; the lines go to standard error meanwhile; the file is tried again at
// most once a second; and the first line that reaches it again is preceded by one " Warn"
// line saying how many lines were lost between which times. The start of each failing spell
// is reported once on standard error.
//
// Every operation is thread-safe. Nothing throws out of the component.
#pragma once

#include <cstdarg>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "interfaces/ILog.h"

namespace spdlog {
class formatter;
namespace details {
struct log_msg;
}
namespace sinks {
class sink;
}
}  // namespace spdlog

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

  // Every line is in the file once it is logged; kept for callers that end the process.
  void Flush() {}

 private:
  void WriteFormatted(int level, const char* format, va_list args);
  // Writes one entry: `tag` in brackets, then `text` unchanged.
  void Write(const char* tag, const std::string& text, bool toStderr, bool fatal);
  // The rest run under m_Mutex.
  // Appends the formatted message to the day's file; false when the file did not take it
  // (the line is counted as lost).
  bool WriteToFile(const spdlog::details::log_msg& message);
  // Opens the file of the message's day in the current directory; false with `error`.
  bool OpenDailyFile(const spdlog::details::log_msg& message, std::string& error);
  // Appends `bytes` whole, or nothing: a partial write is cut off again.
  bool Append(const std::string& bytes, std::string& error);
  std::string Format(const spdlog::details::log_msg& message);
  void CloseFile();

  std::mutex m_Mutex;
  std::string m_Directory;  // where the files go, ending in "/"
  // Every directory text handed out by LogPath() and ErrorLogPath(), so that a pointer a
  // caller still holds stays valid when the path changes.
  std::list<std::string> m_PathTexts;
  std::string m_ServerName;
  bool m_MarkerFileFound = false;
  int m_FatalCount = 0;
  double m_LastFatalTime = 0;
  std::unique_ptr<spdlog::formatter> m_Formatter;
  std::shared_ptr<spdlog::sinks::sink> m_Stderr;
  int m_Fd = -1;           // the open daily file, or -1
  std::string m_FilePath;  // its path
  // A failing spell of the file: when it was last tried, and the lines it lost.
  bool m_Failing = false;
  uint32_t m_LastTry = 0;
  unsigned long long m_Lost = 0;
  std::string m_LostFrom, m_LostTo;  // times of the first and the last lost line
  std::string m_LostReason;
};
