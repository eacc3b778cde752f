// The log object of the logging component: spdlog's line layout and daily file names, and
// a file of its own that survives a full disk.
#include "CTolvarLog.h"

#include <spdlog/details/log_msg.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/daily_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
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
    m_Formatter = std::make_unique<spdlog::pattern_formatter>(kPattern);
    m_Stderr = std::make_shared<spdlog::sinks::stderr_sink_st>();
    m_Stderr->set_formatter(std::make_unique<spdlog::pattern_formatter>(kPattern));
  } catch (const std::exception&) {
    m_Stderr.reset();
  }
}

CTolvarLog::~CTolvarLog() { CloseFile(); }

void CTolvarLog::CloseFile() {
  if (m_Fd >= 0) close(m_Fd);
  m_Fd = -1;
  m_FilePath.clear();
}

std::string CTolvarLog::Format(const spdlog::details::log_msg& message) {
  spdlog::memory_buf_t buffer;
  try {
    if (m_Formatter) m_Formatter->format(message, buffer);
  } catch (const std::exception&) {
    return std::string(message.payload.data(), message.payload.size()) + "\n";
  }
  return std::string(buffer.data(), buffer.size());
}

bool CTolvarLog::OpenDailyFile(const spdlog::details::log_msg& message, std::string& error) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(message.time);
  std::tm day{};
  localtime_r(&seconds, &day);
  std::string path;
  try {
    path = m_Directory + spdlog::sinks::daily_filename_calculator::calc_filename(m_ServerName + ".log", day);
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  if (m_Fd >= 0 && path == m_FilePath) return true;
  CloseFile();
  platform::ForceDirectories(m_Directory, 0750);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
  if (fd < 0) {
    error = "cannot open the log file " + path + ": " + std::strerror(errno);
    return false;
  }
  m_Fd = fd;
  m_FilePath = path;
  return true;
}

bool CTolvarLog::Append(const std::string& bytes, std::string& error) {
  struct stat st {};
  if (fstat(m_Fd, &st) != 0) {
    error = std::string("cannot examine ") + m_FilePath + ": " + std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(m_Fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    error = std::string("cannot write the log file ") + m_FilePath + ": " + std::strerror(n < 0 ? errno : ENOSPC);
    // Half a line would run into the next one: the part that fitted goes again.
    if (done > 0 && ftruncate(m_Fd, st.st_size) != 0) error += " (and the cut line stays)";
    return false;
  }
  return true;
}

bool CTolvarLog::WriteToFile(const spdlog::details::log_msg& message) {
  const uint32_t now = platform::GetTickCount();
  std::string error;
  bool written = false;
  // While the file fails, it is tried at most once a second.
  if (!m_Failing || now - m_LastTry >= 1000) {
    m_LastTry = now;
    if (OpenDailyFile(message, error)) {
      bool ready = true;
      if (m_Lost > 0) {
        const std::string text = FormatText(
            "[%s] Tolvar: %llu lines could not be written to the log file between %s and %s (%s); they went to "
            "standard error",
            LogLevelName(llWarn), m_Lost, m_LostFrom.c_str(), m_LostTo.c_str(), m_LostReason.c_str());
        spdlog::details::log_msg notice(spdlog::string_view_t(), spdlog::level::info,
                                        spdlog::string_view_t(text.data(), text.size()));
        ready = Append(Format(notice), error);
        if (ready) m_Lost = 0;
      }
      written = ready && Append(Format(message), error);
    }
    if (!written) CloseFile();  // opened afresh on the next try
  }
  if (written) {
    m_Failing = false;
    return true;
  }
  const std::time_t seconds = std::chrono::system_clock::to_time_t(message.time);
  std::tm local{};
  localtime_r(&seconds, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  if (m_Lost++ == 0) m_LostFrom = stamp;
  m_LostTo = stamp;
  if (!error.empty()) m_LostReason = error;
  if (!m_Failing) {
    m_Failing = true;
    std::fprintf(stderr, "Tolvar: %s; lines go to standard error, and the file is tried again once a second\n",
                 m_LostReason.c_str());
  }
  return false;
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
  const bool written = WriteToFile(message);
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

#define TOLVAR_WRITE(name, level)                  \
  void CTolvarLog::name(const char* format, ...) { \
    va_list args;                                  \
    va_start(args, format);                        \
    WriteFormatted(level, format, args);           \
    va_end(args);                                  \
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
  CloseFile();  // the next line opens the file in the new directory, at once
  m_Failing = false;
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
  CloseFile();
  m_Failing = false;
}

const char* CTolvarLog::LogPath() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_PathTexts.back().c_str();
}

const char* CTolvarLog::ErrorLogPath() { return LogPath(); }
