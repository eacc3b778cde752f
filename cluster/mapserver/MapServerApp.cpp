#include "MapServerApp.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "common/Text.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/process.h"

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
    : options_(std::move(options)), environmentFaults_(std::move(environmentFaults)) {
  context_.Log = &log_;
  context_.ProgramName = std::move(programName);
  context_.ServerVersion = options_.ServerVersion;
  context_.Debug = options_.Debug;
  context_.AllMode = options_.AllMode;
  context_.ScriptPath = platform::NativePath(options_.ScriptPath);
  context_.SaveDir = platform::ExeDir() + "SaveData/";
}

MapServerApp::~MapServerApp() {
  maps_.clear();
  endpoint_.reset();
  if (!context_.ScriptWorkDir.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(context_.ScriptWorkDir, ec);
  }
}

std::string MapServerApp::LogStem() const {
  std::string stem = options_.AllMode ? "ALL_" + std::to_string(options_.MapManagerNum) : options_.Keys.front();
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
  if (!log_.Open(logPath)) {
    log_.Write(llError, "cannot open the log file %s; writing to standard error", logPath.c_str());
  }
  log_.Write(llInfo, "%s started, pid %u, %s, version %d, debug %d, script path \"%s\"",
             context_.ProgramName.c_str(), platform::CurrentProcessId(),
             options_.AllMode ? ("ALL maps of map manager " + std::to_string(options_.MapManagerNum)).c_str()
                              : ("map " + options_.Keys.front()).c_str(),
             options_.ServerVersion, options_.Debug ? 1 : 0, context_.ScriptPath.c_str());
  for (const std::string& key : options_.DuplicateKeys) {
    log_.Write(llWarn, "map %s is listed twice; it is served once", key.c_str());
  }

  std::vector<FaultSpec> faults = options_.Faults;
  std::vector<std::string> faultErrors;
  ParseFaultList(environmentFaults_, faults, faultErrors);
  for (const std::string& error : faultErrors) log_.Write(llWarn, "VEMO_MS_FAULTS: %s; ignored", error.c_str());
  for (const FaultSpec& fault : faults) {
    log_.Write(llInfo, "misbehaviour switch: %s %s after %d s", fault.Key.c_str(), FaultKindName(fault.Kind),
               fault.DelaySeconds);
  }

  context_.ScriptTimeoutSeconds =
      NumberFromEnvironment(log_, "VEMO_MS_SCRIPT_TIMEOUT", 1, 3600, kDefaultScriptTimeoutSeconds);
  context_.PhaseMs = static_cast<uint32_t>(NumberFromEnvironment(log_, "VEMO_MS_PHASE_MS", 0, 60000, kPhaseMs));
  RemoveStaleScriptDirs(platform::ExeDir() + "Log/");
  std::string workDir = platform::ExeDir() + "Log/" + stem + "_script/";
  if (!platform::FileExists(ScriptRunner::Interpreter())) {
    log_.Write(llWarn, "%s is missing: ScriptCmd texts are only logged", ScriptRunner::Interpreter());
  } else if (!ScriptRunner::WriteHost(workDir)) {
    log_.Write(llError, "cannot write the script host into %s: ScriptCmd texts are only logged", workDir.c_str());
  } else {
    context_.ScriptWorkDir = workDir;
  }

  // The endpoint first, so that the handle is in the records as early as possible.
  std::string title = options_.AllMode ? "ALL_" + std::to_string(options_.MapManagerNum) : options_.Keys.front();
  endpoint_ = platform::BusEndpoint::Open(kMapServerWindowClass, title,
                                          [this](const platform::BusMessage& message) { OnBusMessage(message); });
  if (endpoint_) {
    context_.Hwnd = endpoint_->Handle();
    log_.Write(llInfo, "window %u, class %s, title %s", context_.Hwnd, kMapServerWindowClass, title.c_str());
  } else {
    log_.Write(llError, "cannot open a message bus endpoint; Hwnd stays 0 and window messages cannot arrive");
  }

  uint32_t now = platform::GetTickCount();
  for (const std::string& key : options_.Keys) {
    auto map = std::make_unique<MapServer>(key, context_, faults);
    std::string error;
    if (!map->Open(error)) {
      log_.Write(llError, "map %s is not served: %s", key.c_str(), error.c_str());
      continue;
    }
    map->Start(now);
    maps_.push_back(std::move(map));
  }
  if (maps_.empty()) {
    log_.Write(llFatal, "no map record could be opened; ending");
    return 1;
  }

  uint32_t lastTick = now;
  for (;;) {
    if (endpoint_) {
      endpoint_->Pump(kLoopWaitMs);
    } else {
      platform::SleepMs(kLoopWaitMs);
    }
    if (g_stopRequested) {
      log_.Write(llInfo, "stop requested by signal: saving and ending");
      for (auto& map : maps_) map->Shutdown("signal");
      break;
    }
    now = platform::GetTickCount();
    if (now - lastTick >= 1000) {
      // Keep the one-second rhythm without drifting, but do not catch up after a stall.
      lastTick = now - lastTick >= 2000 ? now : lastTick + 1000;
      for (auto& map : maps_) map->Tick(now);
    }
    // Requests after the figures: what a request changes (a reset of the counters) is what
    // the record shows until the next second.
    for (auto& map : maps_) map->Poll(now);
    bool allClosed = true;
    for (auto& map : maps_) allClosed = allClosed && map->Closed();
    if (allClosed) break;
  }
  log_.Write(llInfo, "%s ends", context_.ProgramName.c_str());
  return 0;
}

void MapServerApp::SetShowState(const std::string& state, const char* why) {
  context_.ShowState = state;
  log_.Write(llInfo, "window request: %s; the window is now %s", why, state.c_str());
}

void MapServerApp::OnBusMessage(const platform::BusMessage& message) {
  using Kind = platform::BusMessage::Kind;
  switch (message.kind) {
    case Kind::Message:
      if (message.Msg == kStartAnnounceMessage) {
        context_.AnnouncedAt = LocalTimeText();
        log_.Write(llInfo, "message %u from window %u (process %u)", message.Msg, message.From, message.SenderPid);
        for (auto& map : maps_) map->OnAnnounced();
      } else if (message.Msg == platform::WM_SYSCOMMAND && message.WParam == platform::SC_RESTORE) {
        SetShowState("normal", "system command restore");
      } else if (message.Msg == platform::WM_SYSCOMMAND && message.WParam == platform::SC_MINIMIZE) {
        SetShowState("minimised", "system command minimise");
      } else {
        log_.Write(llInfo, "message %u (%llu, %llu) from window %u ignored", message.Msg,
                   static_cast<unsigned long long>(message.WParam), static_cast<unsigned long long>(message.LParam),
                   message.From);
      }
      break;
    case Kind::CopyData:
      log_.Write(llInfo, "copy data %u (%zu bytes) from window %u ignored", message.Msg, message.Data.size(),
                 message.From);
      break;
    case Kind::Show:
      // Showing a window keeps its current size: a minimised one stays minimised.
      SetShowState(context_.ShowState.substr(0, context_.ShowState.find(',')), "show");
      break;
    case Kind::Minimize:
      SetShowState("minimised", "minimise");
      break;
    case Kind::Restore:
      SetShowState("normal", "restore");
      break;
    case Kind::Raise:
      // Bringing a window to the front does not change its size.
      SetShowState(context_.ShowState.substr(0, context_.ShowState.find(',')) + ", in front", "bring to the front");
      break;
  }
}

}  // namespace mapserver
