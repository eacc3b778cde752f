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
  std::string ProgramName;  // "VemoMapServer" or "VemoMapServerDM"
  int ServerVersion = 0;
  bool Debug = false;
  bool AllMode = false;
  std::string ScriptPath;     // native form
  std::string ScriptWorkDir;  // ends in "/"; empty: scripts are only logged
  std::string SaveDir;        // ends in "/"
  int ScriptTimeoutSeconds = 30;
  uint32_t PhaseMs = kPhaseMs;  // in "Connecting..." and in "Initing..."
  platform::WindowHandle Hwnd = 0;
  std::string ShowState = "normal";
  std::string AnnouncedAt;  // when message 1027 arrived, "" before
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

  const std::string& Key() const { return m_Key; }

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
  bool Closed() const { return m_Closed; }
  // True while a hang switch keeps the map stopped.
  bool Hung() const { return m_Hung; }
  int32_t State() const { return m_State; }

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

  std::string m_Key;
  int m_MapId;
  ServerContext& m_Context;
  std::vector<FaultSpec> m_Faults;
  std::vector<bool> m_FaultApplied;

  int m_Segment = -1;
  tagMapServerData* m_Record = nullptr;

  MapFigures m_Figures;
  Phase m_Phase = Phase::Connecting;
  uint32_t m_StartTick = 0;
  uint32_t m_PhaseTick = 0;
  uint32_t m_RunningTick = 0;
  uint32_t m_LastAutoSaveTick = 0;
  int32_t m_State = msConnecting;
  std::string m_StartedAt;

  bool m_Debug = false;
  int32_t m_LastDebugModule = 0;

  // Requests and faults.
  bool m_Closing = false;
  uint32_t m_CloseTick = 0;
  bool m_Closed = false;
  bool m_Hung = false;
  bool m_CloseIgnoredLogged = false;
  int32_t m_FaultState = 0;  // 4, 5 or 6 once such a switch applies
  bool m_Unterminated = false;

  std::unique_ptr<ScriptRunner> m_Scripts;
  bool m_ScriptSeen = false;  // a ScriptCmd text read once, waiting for a second read
  std::string m_PendingScript;
  std::deque<std::string> m_ScriptQueue;
  unsigned m_ScriptsRun = 0;

  uint8_t m_LogCounts[kCountedLevels] = {};
  std::string m_LastErrorTime;
  std::string m_LastFatalTime;
  std::string m_LastPyErrorTime;
  std::string m_LastEvent;
};

}  // namespace mapserver
