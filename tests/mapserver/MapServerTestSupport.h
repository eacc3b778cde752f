// Helpers for the map server tests: a record opened the way the manager opens it, a map
// server process started the way the manager starts it.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "interfaces/tagMapServerData.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "support/TestSupport.h"

namespace mstest {

inline std::string MapServerDir() { return std::string(VEMO_BIN_DIR) + "MapServerData/"; }

// A key no other test (or test run) uses.
inline std::string UniqueKey(const std::string& name) { return FreshName("MsT" + name); }

class Record {
 public:
  explicit Record(const std::string& key) {
    bool existed = false;
    int code = 0;
    m_Handle = platform::CreateSharedSegment(key + "_Config", sizeof(tagMapServerData), &existed, &code);
    if (m_Handle >= 0) {
      m_Data = static_cast<tagMapServerData*>(platform::MapSharedSegment(m_Handle, sizeof(tagMapServerData), &code));
    }
  }
  ~Record() {
    if (m_Data) platform::UnmapSharedSegment(m_Data, sizeof(tagMapServerData));
    if (m_Handle >= 0) platform::CloseSharedSegment(m_Handle);
  }
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;

  bool Ok() const { return m_Data != nullptr; }
  volatile tagMapServerData* operator->() { return m_Data; }
  tagMapServerData* Raw() { return m_Data; }

  std::string MsgText() const { return std::string(m_Data->MsgText, strnlen(m_Data->MsgText, sizeof m_Data->MsgText)); }
  int CountSum() const {
    int sum = 0;
    for (uint8_t count : m_Data->LogLevelCounts) sum += count;
    return sum;
  }
  void WriteScript(const std::string& text) {
    char buffer[sizeof m_Data->ScriptCmd] = {};
    std::memcpy(buffer, text.data(), std::min(text.size(), sizeof buffer - 1));
    std::memcpy(m_Data->ScriptCmd, buffer, sizeof buffer);
  }

 private:
  int m_Handle = -1;
  tagMapServerData* m_Data = nullptr;
};

// A started map server; killed at the end of the test if it still runs.
class ServerProcess {
 public:
  ServerProcess() = default;
  ~ServerProcess() {
    if (m_Info.ProcessHandle != 0) {
      // Gracefully first, so that the server removes its script work directory.
      int code = 0;
      platform::TerminateProcess(m_Info.ProcessHandle, 0);
      if (!platform::WaitForProcess(m_Info.ProcessHandle, 3000, &code)) {
        platform::TerminateProcess(m_Info.ProcessHandle, -1);
        platform::WaitForProcess(m_Info.ProcessHandle, 5000, &code);
      }
      platform::CloseProcessHandles(m_Info);
    }
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // `arguments` follow the program name, as the manager writes them. The server skips its
  // two start-up phases (a second each) unless the test sets their length itself.
  bool Start(const std::string& arguments, const std::string& program = "VemoMapServer.exe") {
    setenv("VEMO_MS_PHASE_MS", "0", 0);
    int error = 0;
    return platform::StartProcess(MapServerDir() + program + " " + arguments, MapServerDir(), false, &m_Info, &error);
  }
  uint32_t Pid() const { return m_Info.ProcessId; }
  bool Alive() const { return platform::IsProcessAlive(m_Info.ProcessId); }
  // True with the exit code when the process ended within the time.
  bool WaitEnd(int timeoutMs, int* exitCode) {
    return platform::WaitForProcess(m_Info.ProcessHandle, timeoutMs, exitCode);
  }
  bool Terminate() { return platform::TerminateProcess(m_Info.ProcessHandle, 0); }

  // The map server's own log ("<exe dir>/Log/<stem>_<pid>.log").
  std::string LogText(const std::string& stem) const {
    return ReadFile(MapServerDir() + "Log/" + stem + "_" + std::to_string(m_Info.ProcessId) + ".log");
  }

 private:
  platform::ProcessInformation m_Info;
};

}  // namespace mstest
