#include "MapServerApp.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "text/Text.h"

namespace mapserver {
namespace {

volatile std::sig_atomic_t g_stopRequested = 0;
constexpr int kLoopWaitMs = 100;
constexpr int kDefaultScriptTimeoutSeconds = 30;

// A whole number from the environment variable `name` within [low, high]; `fallback` when
// the variable is unset, with a warning when it holds anything else.
int NumberFromEnvironment(MapServerLog& log, const char* name, int low, int high, int fallback) {
  const char* text = std::getenv(name);
  if (!text || !*text) return fallback;
  int value = 0;
  if (!TextToInt(TrimText(text), value) || value < low || value > high) {
    log.Write(llWarn, "%s=\"%s\" is not %d to %d; %d used", name, text, low, high, fallback);
    return fallback;
  }
  return value;
}

// Removes the script work directories "<stem>_<pid>_script" of servers that ended without
// cleaning up (a crash, a kill).
void RemoveStaleScriptDirs(const std::string& logDir) {
  std::error_code ec;
  const std::string suffix = "_script";
  for (const auto& entry : std::filesystem::directory_iterator(logDir, ec)) {
    std::string name = entry.path().filename().string();
    if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;
    }
    std::string stem = name.substr(0, name.size() - suffix.size());
    std::size_t underscore = stem.rfind('_');
    if (underscore == std::string::npos) continue;
    std::string digits = stem.substr(underscore + 1);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    uint32_t pid = static_cast<uint32_t>(std::stoul(digits));
    if (pid == platform::CurrentProcessId() || platform::IsProcessAlive(pid)) continue;
    std::error_code removeError;
    std::filesystem::remove_all(entry.path(), removeError);
  }
}

}  // namespace

void MapServerApp::RequestStop() { g_stopRequested = 1; }

MapServerApp::MapServerApp(MapServerOptions options, std::string programName, std::string environmentFaults)
    : m_Options(std::move(options)), m_EnvironmentFaults(std::move(environmentFaults)) {
  m_Context.Log = &m_Log;
  m_Context.ProgramName = std::move(programName);
  m_Context.ServerVersion = m_Options.ServerVersion;
  m_Context.Debug = m_Options.Debug;
  m_Context.AllMode = m_Options.AllMode;
  m_Context.ScriptPath = platform::NativePath(m_Options.ScriptPath);
  m_Context.SaveDir = platform::ExeDir() + "SaveData/";
}

MapServerApp::~MapServerApp() {
  m_Maps.clear();
  m_Endpoint.reset();
  if (!m_Context.ScriptWorkDir.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(m_Context.ScriptWorkDir, ec);
  }
}

std::string MapServerApp::LogStem() const {
  std::string stem = m_Options.AllMode ? "ALL_" + std::to_string(m_Options.MapManagerNum) : m_Options.Keys.front();
  for (char& c : stem) {
    if (c == '/' || c == '\\') c = '_';
  }
  return stem + "_" + std::to_string(platform::CurrentProcessId());
}

int MapServerApp::Run() {
  std::signal(SIGTERM, [](int) { RequestStop(); });
  std::signal(SIGINT, [](int) { RequestStop(); });
  std::string stem = LogStem();
  std::string logPath = platform::ExeDir() + "Log/" + stem + ".log";
  if (!m_Log.Open(logPath)) {
    m_Log.Write(llError, "cannot open the log file %s; writing to standard error", logPath.c_str());
  }
  m_Log.Write(llInfo, "%s started, pid %u, %s, version %d, debug %d, script path \"%s\"", m_Context.ProgramName.c_str(),
              platform::CurrentProcessId(),
              m_Options.AllMode ? ("ALL maps of map manager " + std::to_string(m_Options.MapManagerNum)).c_str()
                                : ("map " + m_Options.Keys.front()).c_str(),
              m_Options.ServerVersion, m_Options.Debug ? 1 : 0, m_Context.ScriptPath.c_str());
  for (const std::string& key : m_Options.DuplicateKeys) {
    m_Log.Write(llWarn, "map %s is listed twice; it is served once", key.c_str());
  }

  std::vector<FaultSpec> faults = m_Options.Faults;
  std::vector<std::string> faultErrors;
  ParseFaultList(m_EnvironmentFaults, faults, faultErrors);
  for (const std::string& error : faultErrors) m_Log.Write(llWarn, "VEMO_MS_FAULTS: %s; ignored", error.c_str());
  for (const FaultSpec& fault : faults) {
    m_Log.Write(llInfo, "misbehaviour switch: %s %s after %d s", fault.Key.c_str(), FaultKindName(fault.Kind),
                fault.DelaySeconds);
  }

  m_Context.ScriptTimeoutSeconds =
      NumberFromEnvironment(m_Log, "VEMO_MS_SCRIPT_TIMEOUT", 1, 3600, kDefaultScriptTimeoutSeconds);
  m_Context.PhaseMs = static_cast<uint32_t>(NumberFromEnvironment(m_Log, "VEMO_MS_PHASE_MS", 0, 60000, kPhaseMs));
  RemoveStaleScriptDirs(platform::ExeDir() + "Log/");
  std::string workDir = platform::ExeDir() + "Log/" + stem + "_script/";
  if (!platform::FileExists(ScriptRunner::Interpreter())) {
    m_Log.Write(llWarn, "%s is missing: ScriptCmd texts are only logged", ScriptRunner::Interpreter());
  } else if (!ScriptRunner::WriteHost(workDir)) {
    m_Log.Write(llError, "cannot write the script host into %s: ScriptCmd texts are only logged", workDir.c_str());
  } else {
    m_Context.ScriptWorkDir = workDir;
  }

  // The endpoint first, so that the handle is in the records as early as possible.
  std::string title = m_Options.AllMode ? "ALL_" + std::to_string(m_Options.MapManagerNum) : m_Options.Keys.front();
  m_Endpoint = platform::BusEndpoint::Open(kMapServerWindowClass, title,
                                           [this](const platform::BusMessage& message) { OnBusMessage(message); });
  if (m_Endpoint) {
    m_Context.Hwnd = m_Endpoint->Handle();
    m_Log.Write(llInfo, "window %u, class %s, title %s", m_Context.Hwnd, kMapServerWindowClass, title.c_str());
  } else {
    m_Log.Write(llError, "cannot open a message bus endpoint; Hwnd stays 0 and window messages cannot arrive");
  }

  uint32_t now = platform::GetTickCount();
  for (const std::string& key : m_Options.Keys) {
    auto map = std::make_unique<MapServer>(key, m_Context, faults);
    std::string error;
    if (!map->Open(error)) {
      m_Log.Write(llError, "map %s is not served: %s", key.c_str(), error.c_str());
      continue;
    }
    map->Start(now);
    m_Maps.push_back(std::move(map));
  }
  if (m_Maps.empty()) {
    m_Log.Write(llFatal, "no map record could be opened; ending");
    return 1;
  }

  uint32_t lastTick = now;
  for (;;) {
    if (m_Endpoint) {
      m_Endpoint->Pump(kLoopWaitMs);
    } else {
      platform::SleepMs(kLoopWaitMs);
    }
    if (g_stopRequested) {
      m_Log.Write(llInfo, "stop requested by signal: saving and ending");
      for (auto& map : m_Maps) map->Shutdown("signal");
      break;
    }
    now = platform::GetTickCount();
    if (now - lastTick >= 1000) {
      // Keep the one-second rhythm without drifting, but do not catch up after a stall.
      lastTick = now - lastTick >= 2000 ? now : lastTick + 1000;
      for (auto& map : m_Maps) map->Tick(now);
    }
    // Requests after the figures: what a request changes (a reset of the counters) is what
    // the record shows until the next second.
    for (auto& map : m_Maps) map->Poll(now);
    bool allClosed = true;
    for (auto& map : m_Maps) allClosed = allClosed && map->Closed();
    if (allClosed) break;
  }
  m_Log.Write(llInfo, "%s ends", m_Context.ProgramName.c_str());
  return 0;
}

void MapServerApp::SetShowState(const std::string& state, const char* why) {
  m_Context.ShowState = state;
  m_Log.Write(llInfo, "window request: %s; the window is now %s", why, state.c_str());
}

void MapServerApp::OnBusMessage(const platform::BusMessage& message) {
  using Kind = platform::BusMessage::Kind;
  switch (message.kind) {
    case Kind::Message:
      if (message.Msg == kStartAnnounceMessage) {
        m_Context.AnnouncedAt = LocalTimeText();
        m_Log.Write(llInfo, "message %u from window %u (process %u)", message.Msg, message.From, message.SenderPid);
        for (auto& map : m_Maps) map->OnAnnounced();
      } else if (message.Msg == platform::WM_SYSCOMMAND && message.WParam == platform::SC_RESTORE) {
        SetShowState("normal", "system command restore");
      } else if (message.Msg == platform::WM_SYSCOMMAND && message.WParam == platform::SC_MINIMIZE) {
        SetShowState("minimised", "system command minimise");
      } else {
        m_Log.Write(llInfo, "message %u (%llu, %llu) from window %u ignored", message.Msg,
                    static_cast<unsigned long long>(message.WParam), static_cast<unsigned long long>(message.LParam),
                    message.From);
      }
      break;
    case Kind::CopyData:
      m_Log.Write(llInfo, "copy data %u (%zu bytes) from window %u ignored", message.Msg, message.Data.size(),
                  message.From);
      break;
    case Kind::Show:
      // Showing a window keeps its current size: a minimised one stays minimised.
      SetShowState(m_Context.ShowState.substr(0, m_Context.ShowState.find(',')), "show");
      break;
    case Kind::Minimize: SetShowState("minimised", "minimise"); break;
    case Kind::Restore: SetShowState("normal", "restore"); break;
    case Kind::Raise:
      // Bringing a window to the front does not change its size.
      SetShowState(m_Context.ShowState.substr(0, m_Context.ShowState.find(',')) + ", in front", "bring to the front");
      break;
  }
}

}  // namespace mapserver
