#include "MapServer.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/process.h"
#include "platform/shared_memory.h"

namespace mapserver {
namespace {

constexpr std::size_t kTimeTextSize = sizeof(tagMapServerData::LastErrorTime);

const char* StateText(int32_t state) {
  switch (state) {
    case msNotExist: return "Not Exist!";
    case msConnecting: return "Connecting...";
    case msIniting: return "Initing...";
    case msRunning: return "Running";
    case msPythonError: return "script error";
    case msCppError: return "program error";
    case msDisconnected: return "disconnected";
    default: return "unknown";
  }
}

// Copies `text` into a fixed buffer, cut so that a zero byte always ends it inside.
template <std::size_t N>
void CopyTerminated(char (&buffer)[N], const std::string& text) {
  char local[N] = {};
  std::memcpy(local, text.data(), std::min(text.size(), N - 1));
  std::memcpy(buffer, local, N);
}

// Fills a fixed buffer completely, with no zero byte anywhere, repeating `text`.
template <std::size_t N>
void FillUnterminated(char (&buffer)[N], const std::string& text) {
  std::string pattern = text.empty() ? std::string("#") : text;
  char local[N];
  for (std::size_t i = 0; i < N; ++i) {
    char c = pattern[i % pattern.size()];
    local[i] = c == '\0' ? '#' : c;
  }
  std::memcpy(buffer, local, N);
}

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = '|';
  }
  return text;
}

std::string FileSafe(std::string text) {
  for (char& c : text) {
    if (c == '/' || c == '\\') c = '_';
  }
  return text;
}

}  // namespace

MapServer::MapServer(std::string key, ServerContext& context, std::vector<FaultSpec> faults)
    : key_(std::move(key)),
      mapId_(MapIdOfKey(key_)),
      context_(context),
      figures_(mapId_, static_cast<uint32_t>(mapId_) * 7919u + platform::CurrentProcessId()) {
  for (const FaultSpec& fault : faults) {
    if (fault.Key == key_ || fault.Key == "*") faults_.push_back(fault);
  }
  faultApplied_.assign(faults_.size(), false);
}

MapServer::~MapServer() {
  scripts_.reset();
  if (record_) platform::UnmapSharedSegment(record_, sizeof(tagMapServerData));
  if (segment_ >= 0) platform::CloseSharedSegment(segment_);
}

bool MapServer::Open(std::string& error) {
  std::string name = key_ + "_Config";
  bool existed = false;
  int code = 0;
  segment_ = platform::CreateSharedSegment(name, sizeof(tagMapServerData), &existed, &code);
  if (segment_ < 0) {
    error = "cannot create the record " + name + ": " + platform::SystemErrorText(code);
    return false;
  }
  void* view = platform::MapSharedSegment(segment_, sizeof(tagMapServerData), &code);
  if (!view) {
    error = "cannot map the record " + name + ": " + platform::SystemErrorText(code);
    platform::CloseSharedSegment(segment_);
    segment_ = -1;
    return false;
  }
  record_ = static_cast<tagMapServerData*>(view);
  // Two servers for one map would overwrite each other's figures and both act on the
  // manager's requests; the one that came second leaves the map alone.
  platform::WindowHandle other = record_->Hwnd;
  if (other != 0 && other != context_.Hwnd && platform::IsWindow(other)) {
    uint32_t owner = platform::GetWindowProcessId(other);
    if (owner != 0 && owner != platform::CurrentProcessId()) {
      error = "the record " + name + " is served by process " + std::to_string(owner) + " (window " +
              std::to_string(other) + ")";
      platform::UnmapSharedSegment(record_, sizeof(tagMapServerData));
      record_ = nullptr;
      platform::CloseSharedSegment(segment_);
      segment_ = -1;
      return false;
    }
  }
  return true;
}

void MapServer::Start(uint32_t now) {
  startTick_ = phaseTick_ = now;
  startedAt_ = LocalTimeText();
  debug_ = context_.Debug;
  lastDebugModule_ = record_->DebugModule;
  if (!context_.ScriptWorkDir.empty()) {
    scripts_ = std::make_unique<ScriptRunner>(context_.ScriptWorkDir, context_.ScriptPath,
                                              context_.ScriptTimeoutSeconds);
  }
  Log(llInfo, "serving map " + std::to_string(mapId_) + ", record " + key_ + "_Config");

  // In ALL mode nobody clears the record before a launch: a close request found now was
  // meant for a server that is gone, and would end this one before it ever ran.
  if (context_.AllMode && record_->CloseRequest != 0) {
    Log(llWarn, "a CloseRequest left from an earlier server is cleared");
    record_->CloseRequest = 0;
  }
  // The manager writes the process id of the servers it starts one by one; in ALL mode it
  // writes none, so the server does (the same value either way).
  uint32_t pid = platform::CurrentProcessId();
  if (record_->ProcessId != pid && !platform::IsProcessAlive(record_->ProcessId)) record_->ProcessId = pid;

  record_->Hwnd = context_.Hwnd;
  record_->HeartBeat = kHeartBeatRaised;
  figures_.Advance(0.0);
  figures_.Publish(*record_);
  PublishCounts();
  SetState(msConnecting);
  PublishTexts();
  Log(llInfo, "Connecting...");
}

void MapServer::Log(ELogLevel level, const std::string& text) {
  if (level == llDebug && !debug_) return;
  if (level >= kCountedLevelFirst && level < kCountedLevelFirst + kCountedLevels) {
    uint8_t& count = logCounts_[level - kCountedLevelFirst];
    if (count < 255) ++count;
    if (level == llPyErr) lastPyErrorTime_ = LocalTimeText();
    if (level == llError) lastErrorTime_ = LocalTimeText();
    if (level == llFatal) lastFatalTime_ = LocalTimeText();
    lastEvent_ = text;
  }
  context_.Log->WriteText(level, "[" + key_ + "] " + text);
}

bool MapServer::HasFault(FaultKind kind) const {
  for (const FaultSpec& fault : faults_) {
    if (fault.Kind == kind) return true;
  }
  return false;
}

void MapServer::SetState(int32_t state) {
  state_ = state;
  record_->State = state;
}

void MapServer::Poll(uint32_t now) {
  if (closed_ || hung_) return;
  if (phase_ == Phase::Connecting && now - phaseTick_ >= context_.PhaseMs) {
    phase_ = Phase::Initing;
    phaseTick_ = now;
    SetState(msIniting);
    Log(llInfo, "Initing...");
    figures_.AddXmlLoads(figures_.XmlLoadTarget() / 2);
    Log(llWarn, "MapConfig.xml: no value for ViewRange, 18 used");
    Log(llDesign, "Map " + std::to_string(mapId_) + ": 2 monsters without a drop table entry");
  } else if (phase_ == Phase::Initing && now - phaseTick_ >= context_.PhaseMs) {
    phase_ = Phase::Running;
    phaseTick_ = runningTick_ = lastAutoSaveTick_ = now;
    figures_.AddXmlLoads(figures_.XmlLoadTarget() - figures_.XmlLoadTarget() / 2);
    SetState(msRunning);
    Log(llInfo, "Running");
    Log(llDebug, "startup took " + std::to_string(now - startTick_) + " ms");
  }
  ApplyDueFaults(now);
  if (hung_ || closed_) return;
  CheckRequests(now);
  PollScripts(now);
  if (closing_) {
    bool scriptsDone = !scriptSeen_ && scriptQueue_.empty() && !(scripts_ && scripts_->Busy());
    if (scriptsDone || now - closeTick_ >= kCloseScriptWaitMs) FinishClose("CloseRequest");
  }
}

void MapServer::ApplyDueFaults(uint32_t now) {
  for (std::size_t i = 0; i < faults_.size(); ++i) {
    const FaultSpec& fault = faults_[i];
    if (faultApplied_[i] || fault.Kind == FaultKind::IgnoreClose) continue;
    if (phase_ != Phase::Running || now - runningTick_ < static_cast<uint32_t>(fault.DelaySeconds) * 1000u) {
      continue;
    }
    faultApplied_[i] = true;
    switch (fault.Kind) {
      case FaultKind::Crash:
        Log(llFatal, "crash switch: the process ends with SIGSEGV");
        std::raise(SIGSEGV);
        std::abort();
      case FaultKind::Hang:
        Log(llWarn, "hang switch: the map stops its heartbeat and its answers; the process stays");
        hung_ = true;
        return;
      case FaultKind::State4:
        faultState_ = msPythonError;
        SetState(faultState_);
        Log(llPyErr, "Traceback: NameError in OnTimer of the map script (state 4 switch)");
        break;
      case FaultKind::State5:
        faultState_ = msCppError;
        SetState(faultState_);
        Log(llError, "access violation in the map loop (state 5 switch)");
        break;
      case FaultKind::State6:
        faultState_ = msDisconnected;
        SetState(faultState_);
        Log(llError, "connection to the game server lost (state 6 switch)");
        break;
      case FaultKind::Unterminated:
        unterminated_ = true;
        Log(llWarn, "unterminated switch: MsgText and the time texts fill their buffers without a zero byte");
        PublishTexts();
        break;
      case FaultKind::IgnoreClose:
        break;
    }
  }
}

void MapServer::CheckRequests(uint32_t now) {
  // The manager writes ScriptCmd before CloseRequest: reading the request first makes sure
  // the close script is seen together with the close.
  int32_t closeRequest = record_->CloseRequest;
  std::atomic_thread_fence(std::memory_order_acquire);

  int32_t debugModule = record_->DebugModule;
  if (debugModule != lastDebugModule_) {
    lastDebugModule_ = debugModule;
    debug_ = debugModule != 0;
    Log(llInfo, std::string("DebugModule is now ") + (debug_ ? "on" : "off"));
  }

  // The manager copies the text in while this process may be reading it: a text is taken
  // once two polls in a row have read it the same, so a half-written text is never run.
  if (record_->ScriptCmd[0] != '\0') {
    std::size_t length = strnlen(record_->ScriptCmd, sizeof record_->ScriptCmd);
    std::string text(record_->ScriptCmd, length);
    if (!scriptSeen_ || text != pendingScript_) {
      pendingScript_ = std::move(text);
      scriptSeen_ = true;
    } else {
      std::memset(record_->ScriptCmd, 0, sizeof record_->ScriptCmd);
      scriptSeen_ = false;
      pendingScript_.clear();
      if (length == sizeof record_->ScriptCmd) {
        Log(llWarn, "ScriptCmd fills its buffer without a terminating zero; its 1024 bytes are taken as the text");
      }
      QueueScript(text);
    }
  } else {
    scriptSeen_ = false;
    pendingScript_.clear();
  }

  if (record_->ResetLogRequest != 0) {
    ResetLogCounts();
    record_->ResetLogRequest = 0;
    Log(llInfo, "ResetLogRequest: log counters reset");
  }

  if (closeRequest != 0 && !closing_) {
    if (HasFault(FaultKind::IgnoreClose)) {
      if (!closeIgnoredLogged_) Log(llWarn, "CloseRequest ignored (ignoreclose switch)");
      closeIgnoredLogged_ = true;
    } else {
      closing_ = true;
      closeTick_ = now;
      Log(llInfo, "CloseRequest: saving and closing");
    }
  }
}

void MapServer::QueueScript(const std::string& text) {
  Log(llInfo, "ScriptCmd (" + std::to_string(text.size()) + " bytes): " + OneLine(text));
  if (!scripts_) {
    Log(llWarn, "ScriptCmd not run: no script host; the text is only logged");
    return;
  }
  if (scriptQueue_.size() >= kMaxQueuedScripts) {
    Log(llError, "ScriptCmd not run: " + std::to_string(scriptQueue_.size()) + " scripts are waiting already");
    return;
  }
  scriptQueue_.push_back(text);
}

void MapServer::PollScripts(uint32_t now) {
  if (!scripts_) return;
  ScriptResult result;
  if (scripts_->Poll(result)) HandleScriptResult(result);
  if (!scripts_->Busy() && !scriptQueue_.empty()) {
    std::string text = std::move(scriptQueue_.front());
    scriptQueue_.pop_front();
    std::string error;
    if (scripts_->Start(text, error)) {
      ++scriptsRun_;
    } else {
      Log(llError, "ScriptCmd not run: " + error);
    }
  }
}

void MapServer::HandleScriptResult(const ScriptResult& result) {
  bool failed = result.TimedOut || result.ExitCode != 0;
  for (const std::string& line : result.Output) Log(failed ? llPyErr : llNomal, "script: " + line);
  if (result.TimedOut) {
    Log(llPyErr, "ScriptCmd stopped after " + std::to_string(context_.ScriptTimeoutSeconds) + " s");
  } else if (result.ExitCode != 0) {
    Log(llPyErr, "ScriptCmd failed (exit code " + std::to_string(result.ExitCode) + ")");
  } else {
    Log(llInfo, "ScriptCmd done");
  }
  for (const std::string& request : result.Requests) HandleScriptRequest(request);
}

void MapServer::HandleScriptRequest(const std::string& request) {
  if (request == "RunCMD SavePlayer") {
    Save("player data", ".sav");
  } else if (request == "RunCMD SavePlayerBackupFile") {
    Save("player backup", ".bak");
  } else if (request.rfind("RunCMD ", 0) == 0) {
    Log(llWarn, "RunCMD: unknown command " + request.substr(7));
  } else if (request == "Save") {
    Save("map data", ".sav");
  } else if (request == "RefreshScript") {
    figures_.AddXmlLoads(figures_.XmlLoadTarget());
    Log(llInfo, "scripts and XML files reloaded");
  } else if (request == "ApplySetting") {
    Log(llInfo, "settings applied");
  } else if (!request.empty()) {
    Log(llWarn, "unknown script request: " + request);
  }
}

void MapServer::ResetLogCounts() {
  std::memset(logCounts_, 0, sizeof logCounts_);
  PublishCounts();
}

bool MapServer::Save(const char* what, const std::string& fileSuffix) {
  auto begin = std::chrono::steady_clock::now();
  std::string path = context_.SaveDir + FileSafe(key_) + fileSuffix;
  std::string temporary = path + ".tmp";
  std::error_code ec;
  std::filesystem::create_directories(context_.SaveDir, ec);
  {
    std::ofstream file(temporary, std::ios::trunc);
    file << "key=" << key_ << "\nmap=" << mapId_ << "\nversion=" << context_.ServerVersion
         << "\nplayers=" << figures_.PlayerCnt() << "\nitems=" << figures_.ItemCnt()
         << "\nsaved=" << LocalTimeText() << "\n";
    if (!file) {
      Log(llError, std::string("cannot save ") + what + " to " + temporary);
      return false;
    }
  }
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    Log(llError, std::string("cannot save ") + what + " to " + path + ": " + ec.message());
    std::filesystem::remove(temporary, ec);
    return false;
  }
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
  // Streaming every online player's data costs a little per player on top of the file.
  float cost = static_cast<float>(ms + figures_.PlayerCnt() * 0.05);
  figures_.SetStreamSaveCostTime(cost);
  if (record_) record_->StreamSaveCostTime = cost;
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", cost);
  Log(llInfo, std::string("saved ") + what + " to " + path + " in " + text + " ms");
  return true;
}

void MapServer::FinishClose(const char* reason) {
  if (scripts_ && scripts_->Busy()) {
    scripts_->Kill();
    Log(llWarn, "a running ScriptCmd was stopped by the close");
  }
  if (!scriptQueue_.empty()) {
    Log(llWarn, std::to_string(scriptQueue_.size()) + " waiting ScriptCmd texts were not run because of the close");
    scriptQueue_.clear();
  }
  Save("map data", ".sav");
  closed_ = true;
  closing_ = false;
  SetState(msNotExist);
  record_->HeartBeat = 0;
  record_->Hwnd = 0;
  record_->CloseRequest = 0;
  Log(llInfo, std::string("closed (") + reason + ")");
}

void MapServer::Shutdown(const char* reason) {
  if (closed_) return;
  FinishClose(reason);
}

void MapServer::OnAnnounced() {
  if (closed_ || hung_) return;
  Log(llInfo, "message 1027 from the manager: the start of all maps is announced");
  PublishTexts();
}

void MapServer::Tick(uint32_t now) {
  if (closed_ || hung_) return;
  record_->HeartBeat = kHeartBeatRaised;
  record_->Hwnd = context_.Hwnd;
  record_->State = state_;
  if (phase_ == Phase::Running) {
    figures_.Advance((now - runningTick_) / 1000.0);
    SimulateLogEvents();
    if (now - lastAutoSaveTick_ >= kAutoSaveSeconds * 1000u) {
      lastAutoSaveTick_ = now;
      Save("map data (automatic)", ".sav");
    }
  }
  figures_.Publish(*record_);
  PublishCounts();
  PublishTexts();
}

void MapServer::SimulateLogEvents() {
  // Rough rates of a busy map; the events are labelled as simulated in the log.
  struct Event {
    ELogLevel Level;
    double Chance;
    const char* Text;
  };
  static const Event kEvents[] = {
      {llDebug, 0.30, "frame %u: players and items updated"},
      {llPyWarn, 0.02, "quest timer of player %u fired late (simulated)"},
      {llWarn, 0.04, "player %u sent a packet out of order (simulated)"},
      {llDesign, 0.01, "item %u has no drop table entry (simulated)"},
      {llPyErr, 0.004, "script error in OnKill of monster %u (simulated)"},
      {llError, 0.004, "packet %u could not be routed (simulated)"},
      {llFatal, 0.0005, "database connection %u lost and restored (simulated)"},
  };
  for (const Event& event : kEvents) {
    if (figures_.Chance() >= event.Chance) continue;
    char text[160];
    std::snprintf(text, sizeof text, event.Text, static_cast<unsigned>(figures_.Chance() * 100000.0));
    Log(event.Level, text);
  }
}

void MapServer::PublishCounts() { std::memcpy(record_->LogLevelCounts, logCounts_, sizeof logCounts_); }

void MapServer::PublishTexts() {
  std::string text = key_ + " " + context_.ProgramName + " version " + std::to_string(context_.ServerVersion) +
                     " debug " + (debug_ ? "1" : "0") + "\n";
  text += "Started " + startedAt_ + ", pid " + std::to_string(platform::CurrentProcessId()) + ", " +
          StateText(state_) + "\n";
  text += "Players " + std::to_string(figures_.PlayerCnt()) + "/" + std::to_string(figures_.MaxPlayerCnt()) +
          ", items " + std::to_string(figures_.ItemCnt()) + "/" + std::to_string(figures_.MaxItemCnt()) +
          ", FPS " + std::to_string(figures_.FPS()) + "\n";
  text += context_.AnnouncedAt.empty() ? std::string("Not announced by the manager\n")
                                       : "Announced by the manager at " + context_.AnnouncedAt + "\n";
  text += "Window: " + context_.ShowState + "\n";
  if (scriptsRun_ != 0) text += "Scripts run: " + std::to_string(scriptsRun_) + "\n";
  if (!lastEvent_.empty()) text += "Last event: " + lastEvent_ + "\n";

  if (unterminated_) {
    FillUnterminated(record_->MsgText, text);
    FillUnterminated(record_->LastErrorTime, lastErrorTime_.empty() ? LocalTimeText() + "#" : lastErrorTime_ + "#");
    FillUnterminated(record_->LastFatalTime, lastFatalTime_.empty() ? LocalTimeText() + "#" : lastFatalTime_ + "#");
    FillUnterminated(record_->LastPyErrorTime,
                     lastPyErrorTime_.empty() ? LocalTimeText() + "#" : lastPyErrorTime_ + "#");
    return;
  }
  CopyTerminated(record_->MsgText, text);
  CopyTerminated(record_->LastErrorTime, lastErrorTime_);
  CopyTerminated(record_->LastFatalTime, lastFatalTime_);
  CopyTerminated(record_->LastPyErrorTime, lastPyErrorTime_);
  static_assert(kTimeTextSize == 20);
}

}  // namespace mapserver
