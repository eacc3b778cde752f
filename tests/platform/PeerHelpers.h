// Helpers of the platform tests: the peer program, scratch directories and result files.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>
#include <sstream>
#include <string>

#include "platform/process.h"

namespace peer {

inline std::string Path() { return PLATFORM_PEER; }

// The scratch directories of this test program, removed when it ends.
struct ScratchDirs {
  std::mutex mutex;
  std::vector<std::string> dirs;
  const pid_t owner = getpid();
  ~ScratchDirs() {
    if (getpid() != owner) return;  // a forked child leaves them to its parent
    std::error_code ignored;
    for (const std::string& dir : dirs) std::filesystem::remove_all(dir, ignored);
  }
};
inline ScratchDirs& AllScratchDirs() {
  static ScratchDirs dirs;
  return dirs;
}

// A fresh directory under the system's temporary directory, ending in "/".
inline std::string ScratchDir(const std::string& tag) {
  std::string pattern = "/tmp/vemo_platform_" + tag + "_XXXXXX";
  char* made = mkdtemp(pattern.data());
  if (made == nullptr) return std::string();
  ScratchDirs& all = AllScratchDirs();
  std::lock_guard<std::mutex> lock(all.mutex);
  all.dirs.push_back(made);
  return std::string(made) + "/";
}

inline bool ReadText(const std::string& file, std::string* text) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  *text = out.str();
  return true;
}

// The contents of a result file that a peer writes, waiting for it up to `ms`.
inline std::string WaitForFile(const std::string& file, int ms = 10000) {
  std::string text;
  for (int waited = 0; waited < ms; waited += 10) {
    if (ReadText(file, &text)) return text;
    platform::SleepMs(10);
  }
  return "<timeout>";
}

// Starts the peer with the arguments; the handle, or 0.
inline int Start(const std::string& args, uint32_t* pid = nullptr) {
  platform::ProcessInformation info;
  int error = 0;
  if (!platform::StartProcess("\"" + Path() + "\" " + args, "", false, &info, &error)) return 0;
  if (pid != nullptr) *pid = info.ProcessId;
  return info.ProcessHandle;
}

// Kills and reaps a peer, closing its handle.
inline void Stop(int handle) {
  if (handle == 0) return;
  platform::TerminateProcess(handle, -1);
  int code = 0;
  platform::WaitForProcess(handle, 10000, &code);
  platform::CloseProcessHandle(handle);
}

// A running peer that is killed when the test ends, passed or failed: a peer left
// running would hold the test's output open and stall the test runner.
struct Process {
  int handle = 0;
  uint32_t pid = 0;
  explicit Process(const std::string& args) { handle = Start(args, &pid); }
  ~Process() { Stop(handle); }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  void Kill() {
    Stop(handle);
    handle = 0;
  }
};

}  // namespace peer
