// What the launcher's sources share: the scopes that claim a map, note a process or count a
// wait on the window thread, and the program word of a command line.
#pragma once

#include <string>

#include "launch/MapServerLauncher.h"
#include "platform/process_control.h"
#include "registry/MapServerInfo.h"

// Counts a wait on the window thread while it lasts: the map list must not be rebuilt
// under an operation that holds maps of it.
class MapServerLauncher::WaitScope {
 public:
  explicit WaitScope(MapServerLauncher& launcher) : m_Launcher(launcher) { ++m_Launcher.m_Waiting; }
  ~WaitScope() { --m_Launcher.m_Waiting; }
  WaitScope(const WaitScope&) = delete;
  WaitScope& operator=(const WaitScope&) = delete;

 private:
  MapServerLauncher& m_Launcher;
};

namespace launch_detail {

// The executable's path as the first word of a command line: the platform splits command
// lines at blanks, so a path with a blank is quoted (the quotes do not reach the program).
inline std::string ProgramWord(const std::string& path) {
  return path.find(' ') != std::string::npos ? "\"" + path + "\"" : path;
}

// A second handle of a map's process, kept by a close for as long as it waits.
class NotedProcess {
 public:
  explicit NotedProcess(int handle) : m_Handle(handle != 0 ? platform::DuplicateProcessHandle(handle) : 0) {}
  int Handle() const { return m_Handle.get(); }

 private:
  platform::ProcessHandle m_Handle;
};

// A map claimed for a launch or a close, released at the end of the scope.
class MapClaim {
 public:
  explicit MapClaim(MapServerInfo* info) : m_Info(info != nullptr && info->TryClaim() ? info : nullptr) {}
  ~MapClaim() {
    if (m_Info != nullptr) m_Info->ReleaseClaim();
  }
  MapClaim(const MapClaim&) = delete;
  MapClaim& operator=(const MapClaim&) = delete;
  bool Held() const { return m_Info != nullptr; }

 private:
  MapServerInfo* m_Info;
};

}  // namespace launch_detail
