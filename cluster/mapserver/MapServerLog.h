// The map server's own log: one file beside the program, "<exe dir>/Log/<name>_<pid>.log",
// one line per entry with the local time and the level name, flushed at once so that an
// operator (or a crash) never loses the last lines.
#pragma once

#include <cstdio>
#include <string>

#include "interfaces/ILog.h"

namespace mapserver {

class MapServerLog {
 public:
  MapServerLog() = default;
  ~MapServerLog();
  MapServerLog(const MapServerLog&) = delete;
  MapServerLog& operator=(const MapServerLog&) = delete;

  // Opens (appends to) the file, creating its directory. False when it cannot be opened;
  // lines then go to standard error only.
  bool Open(const std::string& path);
  const std::string& Path() const { return m_Path; }

  void Write(ELogLevel level, const char* format, ...) VEMO_PRINTF(3);
  void WriteText(ELogLevel level, const std::string& text);

  // Also copy every line to standard error (for an operator running it by hand).
  void SetEcho(bool echo) { m_Echo = echo; }

 private:
  std::FILE* m_File = nullptr;
  std::string m_Path;
  bool m_Echo = false;
};

// Local time as "YYYY-MM-DD hh:mm:ss" (19 characters).
std::string LocalTimeText();

}  // namespace mapserver
