// Helpers for the map server tests: a record opened the way the manager opens it, a map
// server process started the way the manager starts it, and waiting for a condition.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "interfaces/tagMapServerData.h"
#include "platform/process.h"
#include "platform/shared_memory.h"

namespace mstest {

inline std::string MapServerDir() { return std::string(VEMO_BIN_DIR) + "MapServerData/"; }

// A key no other test (or test run) uses.
inline std::string UniqueKey(const std::string& name) {
  static int counter = 0;
  return "MsT" + std::to_string(platform::CurrentProcessId()) + name + "_" + std::to_string(++counter);
}

template <typename Condition>
bool WaitFor(Condition condition, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

class Record {
 public:
  explicit Record(const std::string& key) {
    bool existed = false;
    int code = 0;
    handle_ = platform::CreateSharedSegment(key + "_Config", sizeof(tagMapServerData), &existed, &code);
    if (handle_ >= 0) {
      data_ = static_cast<tagMapServerData*>(platform::MapSharedSegment(handle_, sizeof(tagMapServerData), &code));
    }
  }
  ~Record() {
    if (data_) platform::UnmapSharedSegment(data_, sizeof(tagMapServerData));
    if (handle_ >= 0) platform::CloseSharedSegment(handle_);
  }
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;

  bool Ok() const { return data_ != nullptr; }
  volatile tagMapServerData* operator->() { return data_; }
  tagMapServerData* Raw() { return data_; }

  std::string MsgText() const { return std::string(data_->MsgText, strnlen(data_->MsgText, sizeof data_->MsgText)); }
  int CountSum() const {
    int sum = 0;
    for (uint8_t count : data_->LogLevelCounts) sum += count;
    return sum;
  }
  void WriteScript(const std::string& text) {
    char buffer[sizeof data_->ScriptCmd] = {};
    std::memcpy(buffer, text.data(), std::min(text.size(), sizeof buffer - 1));
    std::memcpy(data_->ScriptCmd, buffer, sizeof buffer);
  }

 private:
  int handle_ = -1;
  tagMapServerData* data_ = nullptr;
};

// A started map server; killed at the end of the test if it still runs.
class ServerProcess {
 public:
  ServerProcess() = default;
  ~ServerProcess() {
    if (info_.ProcessHandle != 0) {
      // Gracefully first, so that the server removes its script work directory.
      int code = 0;
      platform::TerminateProcess(info_.ProcessHandle, 0);
      if (!platform::WaitForProcess(info_.ProcessHandle, 3000, &code)) {
        platform::TerminateProcess(info_.ProcessHandle, -1);
        platform::WaitForProcess(info_.ProcessHandle, 5000, &code);
      }
      platform::CloseProcessHandles(info_);
    }
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // `arguments` follow the program name, as the manager writes them.
  bool Start(const std::string& arguments, const std::string& program = "VemoMapServer.exe") {
    int error = 0;
    return platform::StartProcess(MapServerDir() + program + " " + arguments, MapServerDir(), false, &info_,
                                  &error);
  }
  uint32_t Pid() const { return info_.ProcessId; }
  bool Alive() const { return platform::IsProcessAlive(info_.ProcessId); }
  // True with the exit code when the process ended within the time.
  bool WaitEnd(int timeoutMs, int* exitCode) { return platform::WaitForProcess(info_.ProcessHandle, timeoutMs, exitCode); }
  bool Terminate() { return platform::TerminateProcess(info_.ProcessHandle, 0); }

  // The map server's own log ("<exe dir>/Log/<stem>_<pid>.log").
  std::string LogText(const std::string& stem) const {
    std::ifstream file(MapServerDir() + "Log/" + stem + "_" + std::to_string(info_.ProcessId) + ".log");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

 private:
  platform::ProcessInformation info_;
};

}  // namespace mstest
