#include "MapServerLog.h"

#include <chrono>
#include <cstdarg>
#include <ctime>
#include <vector>

#include "platform/paths.h"

namespace mapserver {

MapServerLog::~MapServerLog() {
  if (m_File) std::fclose(m_File);
}

bool MapServerLog::Open(const std::string& path) {
  if (m_File) std::fclose(m_File);
  m_File = nullptr;
  m_Path = path;
  std::size_t slash = path.rfind('/');
  if (slash != std::string::npos) platform::ForceDirectories(path.substr(0, slash + 1));
  m_File = std::fopen(path.c_str(), "a");
  return m_File != nullptr;
}

void MapServerLog::Write(ELogLevel level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (length > 0) {
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    text.assign(buffer.data(), static_cast<std::size_t>(length));
  }
  va_end(args);
  WriteText(level, text);
}

void MapServerLog::WriteText(ELogLevel level, const std::string& text) {
  auto now = std::chrono::system_clock::now();
  int millis =
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::string line =
      LocalTimeText() + "." + std::to_string(1000 + millis).substr(1) + " [" + LogLevelName(level) + "] " + text + "\n";
  if (m_File) {
    std::fputs(line.c_str(), m_File);
    std::fflush(m_File);
  }
  if (m_Echo || !m_File) std::fputs(line.c_str(), stderr);
}

std::string LocalTimeText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
  return buffer;
}

}  // namespace mapserver
