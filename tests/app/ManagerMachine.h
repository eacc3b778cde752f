// A machine for one test: a temporary directory holding a copy of the manager and links to
// every other file of the runnable tree (build/bin), so that the manager finds its
// components, its configuration "VemoMapServerManager.ini" and its log directory beside
// itself without touching build/bin. The executable is copied, not linked, because the
// manager takes its directory from /proc/self/exe, which resolves links.
//
// Managers are started as real processes on Qt's offscreen platform with every dialog
// answered OK (VEMO_UNATTENDED=ok writes the dialog to standard error, which goes to a file
// in the machine), and killed when the machine goes away. The machine's system tables get a
// share segment of their own (VEMO_PELLWYN_SHARE_NAME), so a test never meets the share data
// of a manager that runs on the machine for real.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/shared_memory.h"
#include "support/ChildProgram.h"
#include "support/ProcStat.h"
#include "support/TestSupport.h"

class ManagerMachine {
 public:
  // `without`: file names of build/bin to leave out (a missing component).
  explicit ManagerMachine(const std::set<std::string>& without = {}) {
    namespace fs = std::filesystem;
    for (const auto& entry : fs::directory_iterator(VEMO_BIN_DIR)) {
      const std::string name = entry.path().filename().string();
      // What a run of the tree leaves in it (the demo's configuration, map list, logs and
      // outputs) is no part of a fresh machine.
      if (without.count(name) != 0 || name == "VemoMapServerManager.ini" || name == "ServerLog" ||
          name == "StatusServer.out" || name == "FetchedLogs" || name == "VemoMapServerManager.pid" ||
          name == "SaveData")
        continue;
      if (name == "VemoMapServerManager")
        fs::copy_file(entry.path(), m_Dir + name);
      else
        LinkTree(entry.path(), m_Dir + name);
    }
  }
  // The machine's directory goes after this (a member).
  ~ManagerMachine() {
    for (pid_t pid : m_Children) KillProgram(pid);
    const bool mapServersEnded = EndMapServers();
    // A killed manager cannot remove its instance segment's name, nor its map servers their
    // records'; the next manager's start would, and so does the machine, so that tests leave
    // nothing in /dev/shm.
    if (!m_Children.empty() || mapServersEnded) platform::RemoveUnheldSharedSegments();
    for (int master : m_Terminals) close(master);
  }

  const std::string& Dir() const { return m_Dir; }
  // The machine's own share segment of the system tables.
  const std::string& ShareName() const { return m_ShareName; }
  std::string LogDir() const { return m_Dir + "ServerLog/"; }
  std::string IniPath() const { return m_Dir + "VemoMapServerManager.ini"; }

  void WriteIni(const std::string& text) const { std::ofstream(IniPath(), std::ios::binary) << text; }
  // Replaces a linked component with another file (a broken build of it).
  void Replace(const std::string& name, const std::string& from) const {
    std::filesystem::remove(m_Dir + name);
    std::filesystem::create_symlink(from, m_Dir + name);
  }

  // Starts the manager with arguments; standard error goes to "stderr.<n>" in the machine.
  // `onTerminal`: as from a shell, in a session of its own whose controlling terminal (a
  // pseudo-terminal the machine keeps open) is its standard input.
  // `wrapper`: a program and its arguments that start the manager (prlimit ... --).
  pid_t Start(const std::vector<std::string>& arguments = {}, bool onTerminal = false,
              const std::vector<std::string>& wrapper = {}) {
    const std::string errPath = m_Dir + "stderr." + std::to_string(m_Children.size());
    SpawnOptions options;
    // A library path could find a left-out component in build/bin.
    options.unsetEnv = {"QT_QPA_PLATFORM",  "VEMO_UNATTENDED", "VEMO_LOG_DIR",
                        "VEMO_SYSTEM_ROOT", "LD_LIBRARY_PATH", "VEMO_PELLWYN_SHARE_NAME"};
    options.setEnv = {"QT_QPA_PLATFORM=offscreen", "VEMO_UNATTENDED=ok", "VEMO_LOG_DIR=" + LogDir(),
                      "VEMO_PELLWYN_SHARE_NAME=" + m_ShareName};
    if (onTerminal) {
      const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
      if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 && ptsname(master) != nullptr) {
        options.terminal = ptsname(master);
        m_Terminals.push_back(master);
      } else if (master >= 0) {
        close(master);
      }
    }
    std::vector<std::string> all(wrapper.begin() + (wrapper.empty() ? 0 : 1), wrapper.end());
    if (!wrapper.empty()) all.push_back(m_Dir + "VemoMapServerManager");
    all.insert(all.end(), arguments.begin(), arguments.end());
    const pid_t pid =
        SpawnProgram(wrapper.empty() ? m_Dir + "VemoMapServerManager" : wrapper.front(), all, errPath, options);
    m_Children.push_back(pid);
    m_ErrPaths.push_back(errPath);
    return pid;
  }

  // Waits up to `timeoutMs` for the process to end; its exit code, or -1 when it still runs.
  int WaitExit(pid_t pid, int timeoutMs = 20000) {
    const int code = WaitProgramEnd(pid, timeoutMs);
    if (code >= 0) std::erase(m_Children, pid);
    return code;
  }
  // Ends the manager with SIGKILL, as a crash would: it cleans nothing up.
  void Kill(pid_t pid) {
    KillProgram(pid);
    std::erase(m_Children, pid);
  }
  bool IsRunning(pid_t pid) { return ProgramExitCode(pid) < 0; }

  // What the n-th started manager wrote to standard error.
  std::string Stderr(std::size_t n) const { return ReadFile(m_ErrPaths.at(n)); }
  // Everything in the machine's log files.
  std::string Log() const {
    std::string all;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(LogDir(), ec)) all += ReadFile(entry.path().string());
    return all;
  }
  // Waits until the log holds `text`.
  bool WaitForLog(const std::string& text, int timeoutMs = 20000) const {
    return WaitUntil([&] { return Log().find(text) != std::string::npos; }, timeoutMs, 50);
  }
  // Counts the lines of the log that hold `text`.
  std::size_t CountLog(const std::string& text) const {
    std::size_t count = 0;
    std::istringstream lines(Log());
    for (std::string line; std::getline(lines, line);)
      if (line.find(text) != std::string::npos) ++count;
    return count;
  }

 private:
  // Directories are made anew, so that a test may add files to them (a map list); files
  // are links to the runnable tree's.
  static void LinkTree(const std::filesystem::path& from, const std::string& to) {
    namespace fs = std::filesystem;
    if (!fs::is_directory(from)) {
      fs::create_symlink(from, to);
      return;
    }
    fs::create_directory(to);
    for (const auto& entry : fs::directory_iterator(from)) {
      const std::string name = entry.path().filename().string();
      // The operator's map list and the map servers' logs and saves stay behind: a test
      // that writes a map list must never write through a link into the tree.
      if (name == "MapID.txt" || name == "Log" || name == "SaveData" || name == "SarventResult") continue;
      LinkTree(entry.path(), to + "/" + name);
    }
  }

  // The map servers a killed manager leaves running: every process whose working directory
  // lies in the machine (they all share build/bin's program, so the program cannot tell
  // them apart). True when there were any; they are gone, or zombies, on return.
  bool EndMapServers() const {
    namespace fs = std::filesystem;
    std::error_code ec;
    const std::string dir = fs::weakly_canonical(m_Dir, ec).string();
    if (ec || dir.size() < 2) return false;
    std::vector<pid_t> ended;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
      const std::string name = entry.path().filename().string();
      if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::error_code linkError;
      const std::string cwd = fs::read_symlink(entry.path() / "cwd", linkError).string() + "/";
      if (linkError || cwd.compare(0, dir.size() + 1, dir + "/") != 0) continue;
      const pid_t pid = static_cast<pid_t>(std::stol(name));
      if (pid != getpid() && kill(pid, SIGKILL) == 0) ended.push_back(pid);
    }
    WaitUntil(
        [&] {
          return std::all_of(ended.begin(), ended.end(), [](pid_t pid) {
            const char state = ProcState(static_cast<uint32_t>(pid));
            return state == 'Z' || state == 'X';
          });
        },
        5000, 20);
    return !ended.empty();
  }

  TempDir m_Made{"vemo-app"};
  std::string m_Dir = m_Made.Path();
  std::string m_ShareName = "PellwynAppTest" + std::to_string(getpid()) + "_" + std::to_string(++s_Machines);
  static inline int s_Machines = 0;
  std::vector<pid_t> m_Children;
  std::vector<std::string> m_ErrPaths;
  std::vector<int> m_Terminals;  // pseudo-terminal masters of managers started on a terminal
};
