// Helpers of the platform tests: the peer program, its scratch directories and result files.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/process.h"
#include "support/TestSupport.h"

namespace peer {

inline std::string Path() { return PLATFORM_PEER; }

// A fresh directory under the system's temporary directory, ending in "/", kept until the
// test program ends (its forked children use it, too).
inline std::string ScratchDir(const std::string& tag) {
  static std::mutex mutex;
  static std::vector<std::unique_ptr<TempDir>> dirs;
  std::lock_guard<std::mutex> lock(mutex);
  dirs.push_back(std::make_unique<TempDir>("vemo_platform_" + tag));
  return dirs.back()->Path();
}

// The contents of a result file that a peer writes, waiting for it up to `ms`.
inline std::string WaitForFile(const std::string& file, int ms = 10000) {
  std::string text;
  return WaitUntil([&] { return ReadFile(file, &text); }, ms, 10) ? text : "<timeout>";
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
