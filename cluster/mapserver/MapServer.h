// One map served by this process: its shared record, its start-up states, its figures and
// log counters, and the manager's requests to it (close, script, reset of the log counters).
// The process (MapServerApp) owns the bus endpoint and drives every MapServer from one loop:
// Poll on every pass (about ten times a second), Tick once a second.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "MapFigures.h"
#include "MapServerLog.h"
#include "MapServerOptions.h"
#include "ScriptRunner.h"
#include "interfaces/ILog.h"
#include "interfaces/tagMapServerData.h"
#include "platform/message_bus.h"

namespace mapserver {

// The value the map server writes into HeartBeat once a second. The manager lowers it by one
// per refresh tick (also once a second) and declares the map gone after it has gone from 0 to
// -10; 3 keeps a running map two seconds clear of 0, so a late tick on either side never
// brings it near the limit, and a stopped map is declared gone 13 to 14 seconds later.
constexpr int32_t kHeartBeatRaised = 3;

// Time spent in "Connecting..." and again in "Initing..." before "Running", unless
// VEMO_MS_PHASE_MS says otherwise (tests and benchmarks shorten it).
constexpr uint32_t kPhaseMs = 1000;
// How long a close waits for the map's scripts (the manager's save script among them).
constexpr uint32_t kCloseScriptWaitMs = 10000;
// Scripts waiting behind a running one; more are refused with an error line.
constexpr std::size_t kMaxQueuedScripts = 64;
// Seconds between automatic saves of a running map.
constexpr uint32_t kAutoSaveSeconds = 300;

// What all maps of the process share; the process updates it.
struct ServerContext {
  MapServerLog* Log = nullptr;
  std::string ProgramName;     // "VemoMapServer" or "VemoMapServerDM"
  int ServerVersion = 0;
  bool Debug = false;
  bool AllMode = false;
  std::string ScriptPath;      // native form
  std::string ScriptWorkDir;   // ends in "/"; empty: scripts are only logged
  std::string SaveDir;         // ends in "/"
  int ScriptTimeoutSeconds = 30;
  uint32_t PhaseMs = kPhaseMs;  // in "Connecting..." and in "Initing..."
  platform::WindowHandle Hwnd = 0;
  std::string ShowState = "normal";
  std::string AnnouncedAt;     // when message 1027 arrived, "" before
};

// The seven log-level counters of the record, from "Debug" to "Fatal".
constexpr int kCountedLevelFirst = llDebug;
constexpr int kCountedLevels = 7;

class MapServer {
 public:
  MapServer(std::string key, ServerContext& context, std::vector<FaultSpec> faults);
  ~MapServer();
  MapServer(const MapServer&) = delete;
  MapServer& operator=(const MapServer&) = delete;

  const std::string& Key() const { return key_; }

  // Creates or opens the record "<key>_Config". False with `error` when it cannot be mapped
  // or when another live map server already serves it.
  bool Open(std::string& error);
  // Begins serving: "Connecting...", heartbeat, handle, first figures.
  void Start(uint32_t now);
  // Requests, scripts and state changes; on every loop pass.
  void Poll(uint32_t now);
  // Heartbeat, figures, simulated log events and texts; once a second.
  void Tick(uint32_t now);
  // Message 1027 from the manager (the process records the time in the context).
  void OnAnnounced();
  // SIGTERM: stop scripts, save and leave the record as a closed map's.
  void Shutdown(const char* reason);

  // True once the map has been closed (by CloseRequest or Shutdown).
  bool Closed() const { return closed_; }
  // True while a hang switch keeps the map stopped.
  bool Hung() const { return hung_; }
  int32_t State() const { return state_; }

 private:
  enum class Phase { Connecting, Initing, Running };

  bool HasFault(FaultKind kind) const;
  void ApplyDueFaults(uint32_t now);
  void SetState(int32_t state);
  void CheckRequests(uint32_t now);
  void QueueScript(const std::string& text);
  void PollScripts(uint32_t now);
  void HandleScriptResult(const ScriptResult& result);
  void HandleScriptRequest(const std::string& request);
  void ResetLogCounts();
  void CountLog(int level, const std::string& text);
  void SimulateLogEvents();
  bool Save(const char* what, const std::string& fileSuffix);
  void FinishClose(const char* reason);
  void PublishTexts();
  void PublishCounts();
  void Log(ELogLevel level, const std::string& text);

  std::string key_;
  int mapId_;
  ServerContext& context_;
  std::vector<FaultSpec> faults_;
  std::vector<bool> faultApplied_;

  int segment_ = -1;
  tagMapServerData* record_ = nullptr;

  MapFigures figures_;
  Phase phase_ = Phase::Connecting;
  uint32_t startTick_ = 0;
  uint32_t phaseTick_ = 0;
  uint32_t runningTick_ = 0;
  uint32_t lastAutoSaveTick_ = 0;
  int32_t state_ = msConnecting;
  std::string startedAt_;

  bool debug_ = false;
  int32_t lastDebugModule_ = 0;

  // Requests and faults.
  bool closing_ = false;
  uint32_t closeTick_ = 0;
  bool closed_ = false;
  bool hung_ = false;
  bool closeIgnoredLogged_ = false;
  int32_t faultState_ = 0;      // 4, 5 or 6 once such a switch applies
  bool unterminated_ = false;

  std::unique_ptr<ScriptRunner> scripts_;
  bool scriptSeen_ = false;      // a ScriptCmd text read once, waiting for a second read
  std::string pendingScript_;
  std::deque<std::string> scriptQueue_;
  unsigned scriptsRun_ = 0;

  uint8_t logCounts_[kCountedLevels] = {};
  std::string lastErrorTime_;
  std::string lastFatalTime_;
  std::string lastPyErrorTime_;
  std::string lastEvent_;
};

}  // namespace mapserver
