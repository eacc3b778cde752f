// The log object of the logging component, on spdlog's daily file sink.
#include "CTolvarLog.h"

#include <spdlog/details/log_msg.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/daily_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>


#include <cstdio>
#include <exception>

#include "common/Utils.h"
#include "platform/clock.h"
#include "platform/paths.h"

namespace {

constexpr const char* kPattern = "[%Y-%m-%d %H:%M:%S.%e]%v";

std::string WithTrailingSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

// The executable's file name, the first part of the log file names until the server
// name is set.
std::string ExecutableName() {
  const std::string path = platform::ExePath();
  std::size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return name.empty() ? "Log" : name;
}

}  // namespace

CTolvarLog::CTolvarLog() {
  m_Directory = WithTrailingSlash(platform::LogDir());
  m_PathTexts.push_back(m_Directory);
  m_ServerName = ExecutableName();
  try {
    m_Stderr = std::make_shared<spdlog::sinks::stderr_sink_st>();
    m_Stderr->set_formatter(std::make_unique<spdlog::pattern_formatter>(kPattern));
  } catch (const std::exception&) {
    m_Stderr.reset();
  }
}

CTolvarLog::~CTolvarLog() { Flush(); }

void CTolvarLog::Flush() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  try {
    if (m_File) m_File->flush();
  } catch (const std::exception&) {
  }
}

void CTolvarLog::OpenFileSink() {
  m_File.reset();
  m_FileFailed = false;
  try {
    platform::ForceDirectories(m_Directory);
    auto sink = std::make_shared<spdlog::sinks::daily_file_sink_st>(m_Directory + m_ServerName + ".log", 0, 0);
    sink->set_formatter(std::make_unique<spdlog::pattern_formatter>(kPattern));
    m_File = std::move(sink);
  } catch (const std::exception& e) {
    m_FileFailed = true;
    std::fprintf(stderr, "Tolvar: cannot open the log file in \"%s\": %s; lines go to standard error\n",
                 m_Directory.c_str(), e.what());
  }
}

void CTolvarLog::Write(const char* tag, const std::string& text, bool toStderr, bool fatal) {
  std::string entry;
  entry.reserve(text.size() + 12);
  entry += '[';
  entry += tag;
  entry += "] ";
  entry += text;

  std::lock_guard<std::mutex> lock(m_Mutex);
  if (fatal) {
    ++m_FatalCount;
    m_LastFatalTime = platform::NowAsDateTime();
  }
  spdlog::details::log_msg message(spdlog::string_view_t(), spdlog::level::info,
                                   spdlog::string_view_t(entry.data(), entry.size()));
  if (!m_File && !m_FileFailed) OpenFileSink();
  bool written = false;
  if (m_File) {
    try {
      m_File->log(message);
      // Every line reaches the file at once: a crash must not take the last lines with it.
      m_File->flush();
      written = true;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "Tolvar: writing the log file failed: %s\n", e.what());
      m_File.reset();
      m_FileFailed = true;
    }
  }
  if ((toStderr || m_MarkerFileFound || !written) && m_Stderr) {
    try {
      m_Stderr->log(message);
      m_Stderr->flush();
    } catch (const std::exception&) {
    }
  }
}

void CTolvarLog::WriteFormatted(int level, const char* format, va_list args) {
  Write(LogLevelName(level), FormatTextV(format, args), level >= llWarn, level == llFatal);
}

#define TOLVAR_WRITE(name, level)                \
  void CTolvarLog::name(const char* format, ...) { \
    va_list args;                                \
    va_start(args, format);                      \
    WriteFormatted(level, format, args);         \
    va_end(args);                                \
  }
TOLVAR_WRITE(TraceNomal, llNomal)
TOLVAR_WRITE(TraceInfo, llInfo)
TOLVAR_WRITE(TraceDebug, llDebug)
TOLVAR_WRITE(TracePyWarn, llPyWarn)
TOLVAR_WRITE(TraceWarn, llWarn)
TOLVAR_WRITE(TraceDesign, llDesign)
TOLVAR_WRITE(TracePyErr, llPyErr)
TOLVAR_WRITE(TraceError, llError)
TOLVAR_WRITE(TraceFatal, llFatal)
TOLVAR_WRITE(LogNomal, llNomal)
TOLVAR_WRITE(LogInfo, llInfo)
TOLVAR_WRITE(LogDebug, llDebug)
TOLVAR_WRITE(LogPyWarn, llPyWarn)
TOLVAR_WRITE(LogWarn, llWarn)
TOLVAR_WRITE(LogDesign, llDesign)
TOLVAR_WRITE(LogPyErr, llPyErr)
TOLVAR_WRITE(LogError, llError)
TOLVAR_WRITE(LogFatal, llFatal)
#undef TOLVAR_WRITE

namespace {
// A script's text as one entry: one trailing line feed goes (every entry ends a line).
bool ScriptEntry(const char* text, std::string& entry) {
  if (text == nullptr) return false;
  entry = text;
  if (!entry.empty() && entry.back() == '\n') entry.pop_back();
  if (!entry.empty() && entry.back() == '\r') entry.pop_back();
  return !entry.empty();
}
}  // namespace

void CTolvarLog::ScriptOutput(int reserved, const char* text) {
  std::string entry;
  if (ScriptEntry(text, entry)) Write("Script", entry, false, false);
}

void CTolvarLog::ScriptError(int reserved, const char* text) {
  std::string entry;
  if (ScriptEntry(text, entry)) Write("ScriptErr", entry, true, false);
}

void CTolvarLog::SetLogPath(const char* directory, const char* subPath) {
  std::string dir = directory != nullptr && directory[0] != '\0' ? platform::NativePath(directory) : platform::LogDir();
  dir = WithTrailingSlash(dir);
  if (subPath != nullptr && subPath[0] != '\0') dir = WithTrailingSlash(dir + platform::NativePath(subPath));
  std::lock_guard<std::mutex> lock(m_Mutex);
  if (dir == m_Directory) return;
  m_Directory = dir;
  m_PathTexts.push_back(dir);
  m_File.reset();  // the next line opens the file in the new directory
  m_FileFailed = false;
}

int CTolvarLog::GetFatalErrorCount() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_FatalCount;
}

double CTolvarLog::GetLastFatalErrorTime() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_LastFatalTime;
}

void CTolvarLog::SetMarkerFileFound(int found) {
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_MarkerFileFound = found != 0;
}

void CTolvarLog::SetServerName(const char* name) {
  std::string server = name != nullptr ? name : "";
  // The name becomes part of a file name: no directory separators in it.
  for (char& c : server)
    if (c == '/' || c == '\\') c = '_';
  if (server.empty()) server = ExecutableName();
  std::lock_guard<std::mutex> lock(m_Mutex);
  if (server == m_ServerName) return;
  m_ServerName = server;
  m_File.reset();
  m_FileFailed = false;
}

const char* CTolvarLog::LogPath() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_PathTexts.back().c_str();
}

const char* CTolvarLog::ErrorLogPath() { return LogPath(); }
