// Helpers of the command and launch-control tests: a configuration kept in memory, a window
// without a display, a map list of maps named for this test, and real map servers launched
// as the manager launches them.
#pragma once

#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "components/GameDataComponent.h"
#include "interfaces/IConfig.h"
#include "launch/ILaunchWindow.h"
#include "launch/MapServerLauncher.h"
#include "platform/process.h"
#include "registry/MapServerInfoManager.h"
#include "registry/MapServerState.h"
#include "registry/RecordAccess.h"

class MemoryConfig : public IConfig {
 public:
  void Open(const char*, const char*) override {}
  void Apply() override {}
  bool GetBool(const char* key, bool value) override { return Has(key) ? m_Values[key] == "1" : value; }
  int GetInt(const char* key, int value) override { return Has(key) ? std::atoi(m_Values[key].c_str()) : value; }
  const char* GetString(const char* key, const char* value) override {
    m_Last = Has(key) ? m_Values[key] : (value != nullptr ? value : "");
    return m_Last.c_str();
  }
  double GetFloat(const char* key, double value) override { return Has(key) ? std::atof(m_Values[key].c_str()) : value; }
  void SetBool(const char* key, bool value) override { m_Values[key] = value ? "1" : "0"; }
  void SetInt(const char* key, int value) override { m_Values[key] = std::to_string(value); }
  void SetString(const char* key, const char* value) override { m_Values[key] = value; }
  void SetFloat(const char* key, double value) override { m_Values[key] = std::to_string(value); }
  void DefaultBool(const char*, bool) override {}
  void DefaultInt(const char*, int) override {}
  void DefaultString(const char*, const char*) override {}
  std::string Value(const char* key) { return Has(key) ? m_Values[key] : "<unset>"; }

 private:
  bool Has(const char* key) const { return m_Values.count(key) != 0; }
  std::map<std::string, std::string> m_Values;
  std::string m_Last;
};

// The end of the process that a command asked for, as a test sees it.
struct EndProcessCalled : std::runtime_error {
  explicit EndProcessCalled(int code) : std::runtime_error("EndProcess"), exitCode(code) {}
  int exitCode;
};

class TestWindow : public ILaunchWindow {
 public:
  void SetServiceStarted() override { startEnabled = false; }
  bool IsStartEnabled() override { return startEnabled; }
  void SetServerVersionText(const std::string&) override {}
  void SetCaption(const std::string&) override {}
  void SetMapCount(int count) override { mapCount = count; }
  bool IsStartInCmdLineChecked() override { return true; }
  void ShowStatePage() override {}
  void ProcessMessages() override {
    ++pumped;
    if (onPump) onPump();
  }
  bool IsClosing() override { return false; }
  [[noreturn]] void EndProcess(int exitCode) override { throw EndProcessCalled(exitCode); }

  bool startEnabled = true;
  int mapCount = -1;
  int pumped = 0;
  std::function<void()> onPump;  // what the window does while an operation waits
};

// A directory under the system's temporary directory, removed with its contents.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vemo-cmd-XXXXXX").string();
    m_Path = std::string(mkdtemp(pattern.data())) + "/";
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_Path, ignored);
  }
  const std::string& Path() const { return m_Path; }
  std::string Write(const std::string& name, const std::string& text) const {
    std::filesystem::create_directories(std::filesystem::path(m_Path + name).parent_path());
    std::ofstream(m_Path + name, std::ios::binary) << text;
    return m_Path + name;
  }

 private:
  std::string m_Path;
};

inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 20000) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Map server program of the runnable tree.
inline std::string MapServerDataDir() { return std::string(VEMO_BIN_DIR) + "MapServerData/"; }

// Starts the real map server of `info` as the launcher does, with its record cleared, and
// notes the process in the map; the server reaches "Running" at once.
inline bool LaunchMapServer(MapServerInfo& info, const std::string& extraEnv = "") {
  tagMapServerData* data = info.GetShareData();
  if (data == nullptr) return false;
  record::Zero(*data);
  setenv("VEMO_MS_PHASE_MS", "0", 1);
  if (!extraEnv.empty()) setenv("VEMO_MS_FAULTS", extraEnv.c_str(), 1);
  const std::string commandLine =
      MapServerDataDir() + "VemoMapServer " + info.GetMapData().GetKey() + " 1 0 " + MapServerDataDir() + "Script/ MapManager";
  platform::ProcessInformation process;
  int errorCode = 0;
  const bool started = platform::StartProcess(commandLine, MapServerDataDir(), false, &process, &errorCode);
  unsetenv("VEMO_MS_FAULTS");
  if (!started) return false;
  info.SetProcessInfo(process);
  record::SetProcessId(*data, process.ProcessId);
  return WaitFor([&] { return record::State(*data) == msRunning; });
}

// Kills every map server a test left running.
struct MapServerReaper {
  MapServerInfoManager& maps;
  ~MapServerReaper() {
    for (int i = 0; i < maps.GetMapInfoCount(); ++i) {
      const int handle = maps.GetMapInfo(i)->GetProcessInfo().ProcessHandle;
      if (handle != 0 && platform::TerminateProcess(handle, -1)) platform::WaitForProcess(handle, 5000, nullptr);
    }
  }
};
