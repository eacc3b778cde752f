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

std::string FileSafe(std::string text) {
  for (char& c : text) {
    if (c == '/' || c == '\\') c = '_';
  }
  return text;
}

}  // namespace

MapServer::MapServer(std::string key, ServerContext& context, std::vector<FaultSpec> faults)
    : m_Key(std::move(key)),
      m_MapId(MapIdOfKey(m_Key)),
      m_Context(context),
      m_Figures(m_MapId, static_cast<uint32_t>(m_MapId) * 7919u + platform::CurrentProcessId()) {
  for (const FaultSpec& fault : faults) {
    if (fault.Key == m_Key || fault.Key == "*") m_Faults.push_back(fault);
  }
  m_FaultApplied.assign(m_Faults.size(), false);
}

MapServer::~MapServer() {
  m_Scripts.reset();
  if (m_Record) platform::UnmapSharedSegment(m_Record, sizeof(tagMapServerData));
  if (m_Segment >= 0) platform::CloseSharedSegment(m_Segment);
}

bool MapServer::Open(std::string& error) {
  std::string name = m_Key + "_Config";
  bool existed = false;
  int code = 0;
  m_Segment = platform::CreateSharedSegment(name, sizeof(tagMapServerData), &existed, &code);
  if (m_Segment < 0) {
    error = "cannot create the record " + name + ": " + platform::SystemErrorText(code);
    return false;
  }
  void* view = platform::MapSharedSegment(m_Segment, sizeof(tagMapServerData), &code);
  if (!view) {
    error = "cannot map the record " + name + ": " + platform::SystemErrorText(code);
    platform::CloseSharedSegment(m_Segment);
    m_Segment = -1;
    return false;
  }
  m_Record = static_cast<tagMapServerData*>(view);
  // Two servers for one map would overwrite each other's figures and both act on the
  // manager's requests; the one that came second leaves the map alone.
  platform::WindowHandle other = m_Record->Hwnd;
  if (other != 0 && other != m_Context.Hwnd && platform::IsWindow(other)) {
    uint32_t owner = platform::GetWindowProcessId(other);
    if (owner != 0 && owner != platform::CurrentProcessId()) {
      error = "the record " + name + " is served by process " + std::to_string(owner) + " (window " +
              std::to_string(other) + ")";
      platform::UnmapSharedSegment(m_Record, sizeof(tagMapServerData));
      m_Record = nullptr;
      platform::CloseSharedSegment(m_Segment);
      m_Segment = -1;
      return false;
    }
  }
  return true;
}

void MapServer::Start(uint32_t now) {
  m_StartTick = m_PhaseTick = now;
  m_StartedAt = LocalTimeText();
  m_Debug = m_Context.Debug;
  m_LastDebugModule = m_Record->DebugModule;
  if (!m_Context.ScriptWorkDir.empty()) {
    m_Scripts =
        std::make_unique<ScriptRunner>(m_Context.ScriptWorkDir, m_Context.ScriptPath, m_Context.ScriptTimeoutSeconds);
  }
  Log(llInfo, "serving map " + std::to_string(m_MapId) + ", record " + m_Key + "_Config");

  // In ALL mode nobody clears the record before a launch: a close request found now was
  // meant for a server that is gone, and would end this one before it ever ran.
  if (m_Context.AllMode && m_Record->CloseRequest != 0) {
    Log(llWarn, "a CloseRequest left from an earlier server is cleared");
    m_Record->CloseRequest = 0;
  }
  // The manager writes the process id of the servers it starts one by one; in ALL mode it
  // writes none, so the server does (the same value either way).
  uint32_t pid = platform::CurrentProcessId();
  if (m_Record->ProcessId != pid && !platform::IsProcessAlive(m_Record->ProcessId)) m_Record->ProcessId = pid;

  m_Record->Hwnd = m_Context.Hwnd;
  m_Record->HeartBeat = kHeartBeatRaised;
  m_Figures.Advance(0.0);
  m_Figures.Publish(*m_Record);
  PublishCounts();
  SetState(msConnecting);
  PublishTexts();
  Log(llInfo, "Connecting...");
}

void MapServer::Log(ELogLevel level, const std::string& text) {
  if (level == llDebug && !m_Debug) return;
  if (level >= kCountedLevelFirst && level < kCountedLevelFirst + kCountedLevels) {
    uint8_t& count = m_LogCounts[level - kCountedLevelFirst];
    if (count < 255) ++count;
    if (level == llPyErr) m_LastPyErrorTime = LocalTimeText();
    if (level == llError) m_LastErrorTime = LocalTimeText();
    if (level == llFatal) m_LastFatalTime = LocalTimeText();
    m_LastEvent = text;
  }
  m_Context.Log->WriteText(level, "[" + m_Key + "] " + text);
}

bool MapServer::HasFault(FaultKind kind) const {
  for (const FaultSpec& fault : m_Faults) {
    if (fault.Kind == kind) return true;
  }
  return false;
}

void MapServer::SetState(int32_t state) {
  m_State = state;
  m_Record->State = state;
}

void MapServer::Poll(uint32_t now) {
  if (m_Closed || m_Hung) return;
  if (m_Phase == Phase::Connecting && now - m_PhaseTick >= m_Context.PhaseMs) {
    m_Phase = Phase::Initing;
    m_PhaseTick = now;
    SetState(msIniting);
    Log(llInfo, "Initing...");
    m_Figures.AddXmlLoads(m_Figures.XmlLoadTarget() / 2);
    Log(llWarn, "MapConfig.xml: no value for ViewRange, 18 used");
    Log(llDesign, "Map " + std::to_string(m_MapId) + ": 2 monsters without a drop table entry");
  } else if (m_Phase == Phase::Initing && now - m_PhaseTick >= m_Context.PhaseMs) {
    m_Phase = Phase::Running;
    m_PhaseTick = m_RunningTick = m_LastAutoSaveTick = now;
    m_Figures.AddXmlLoads(m_Figures.XmlLoadTarget() - m_Figures.XmlLoadTarget() / 2);
    SetState(msRunning);
    Log(llInfo, "Running");
    Log(llDebug, "startup took " + std::to_string(now - m_StartTick) + " ms");
  }
  ApplyDueFaults(now);
  if (m_Hung || m_Closed) return;
  CheckRequests(now);
  PollScripts(now);
  if (m_Closing) {
    bool scriptsDone = !m_ScriptSeen && m_ScriptQueue.empty() && !(m_Scripts && m_Scripts->Busy());
    if (scriptsDone || now - m_CloseTick >= kCloseScriptWaitMs) FinishClose("CloseRequest");
  }
}

void MapServer::ApplyDueFaults(uint32_t now) {
  for (std::size_t i = 0; i < m_Faults.size(); ++i) {
    const FaultSpec& fault = m_Faults[i];
    if (m_FaultApplied[i] || fault.Kind == FaultKind::IgnoreClose) continue;
    if (m_Phase != Phase::Running || now - m_RunningTick < static_cast<uint32_t>(fault.DelaySeconds) * 1000u) {
      continue;
    }
    m_FaultApplied[i] = true;
    switch (fault.Kind) {
      case FaultKind::Crash:
        Log(llFatal, "crash switch: the process ends with SIGSEGV");
        std::raise(SIGSEGV);
        std::abort();
      case FaultKind::Hang:
        Log(llWarn, "hang switch: the map stops its heartbeat and its answers; the process stays");
        m_Hung = true;
        return;
      case FaultKind::State4:
        m_FaultState = msPythonError;
        SetState(m_FaultState);
        Log(llPyErr, "Traceback: NameError in OnTimer of the map script (state 4 switch)");
        break;
      case FaultKind::State5:
        m_FaultState = msCppError;
        SetState(m_FaultState);
        Log(llError, "access violation in the map loop (state 5 switch)");
        break;
      case FaultKind::State6:
        m_FaultState = msDisconnected;
        SetState(m_FaultState);
        Log(llError, "connection to the game server lost (state 6 switch)");
        break;
      case FaultKind::Unterminated:
        m_Unterminated = true;
        Log(llWarn, "unterminated switch: MsgText and the time texts fill their buffers without a zero byte");
        PublishTexts();
        break;
      case FaultKind::IgnoreClose: break;
    }
  }
}

void MapServer::CheckRequests(uint32_t now) {
  // The manager writes ScriptCmd before CloseRequest: reading the request first makes sure
  // the close script is seen together with the close.
  int32_t closeRequest = m_Record->CloseRequest;
  std::atomic_thread_fence(std::memory_order_acquire);

  int32_t debugModule = m_Record->DebugModule;
  if (debugModule != m_LastDebugModule) {
    m_LastDebugModule = debugModule;
    m_Debug = debugModule != 0;
    Log(llInfo, std::string("DebugModule is now ") + (m_Debug ? "on" : "off"));
  }

  // The manager copies the text in while this process may be reading it: a text is taken
  // once two polls in a row have read it the same, so a half-written text is never run.
  if (m_Record->ScriptCmd[0] != '\0') {
    std::size_t length = strnlen(m_Record->ScriptCmd, sizeof m_Record->ScriptCmd);
    std::string text(m_Record->ScriptCmd, length);
    if (!m_ScriptSeen || text != m_PendingScript) {
      m_PendingScript = std::move(text);
      m_ScriptSeen = true;
    } else {
      std::memset(m_Record->ScriptCmd, 0, sizeof m_Record->ScriptCmd);
      m_ScriptSeen = false;
      m_PendingScript.clear();
      if (length == sizeof m_Record->ScriptCmd) {
        Log(llWarn, "ScriptCmd fills its buffer without a terminating zero; its 1024 bytes are taken as the text");
      }
      QueueScript(text);
    }
  } else {
    m_ScriptSeen = false;
    m_PendingScript.clear();
  }

  if (m_Record->ResetLogRequest != 0) {
    ResetLogCounts();
    m_Record->ResetLogRequest = 0;
    Log(llInfo, "ResetLogRequest: log counters reset");
  }

  if (closeRequest != 0 && !m_Closing) {
    if (HasFault(FaultKind::IgnoreClose)) {
      if (!m_CloseIgnoredLogged) Log(llWarn, "CloseRequest ignored (ignoreclose switch)");
      m_CloseIgnoredLogged = true;
    } else {
      m_Closing = true;
      m_CloseTick = now;
      Log(llInfo, "CloseRequest: saving and closing");
    }
  }
}

void MapServer::ResetLogCounts() {
  std::memset(m_LogCounts, 0, sizeof m_LogCounts);
  PublishCounts();
}

bool MapServer::Save(const char* what, const std::string& fileSuffix) {
  auto begin = std::chrono::steady_clock::now();
  std::string path = m_Context.SaveDir + FileSafe(m_Key) + fileSuffix;
  std::string temporary = path + ".tmp";
  std::error_code ec;
  std::filesystem::create_directories(m_Context.SaveDir, ec);
  {
    std::ofstream file(temporary, std::ios::trunc);
    file << "key=" << m_Key << "\nmap=" << m_MapId << "\nversion=" << m_Context.ServerVersion
         << "\nplayers=" << m_Figures.PlayerCnt() << "\nitems=" << m_Figures.ItemCnt() << "\nsaved=" << LocalTimeText()
         << "\n";
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
  float cost = static_cast<float>(ms + m_Figures.PlayerCnt() * 0.05);
  m_Figures.SetStreamSaveCostTime(cost);
  if (m_Record) m_Record->StreamSaveCostTime = cost;
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", cost);
  Log(llInfo, std::string("saved ") + what + " to " + path + " in " + text + " ms");
  return true;
}

void MapServer::FinishClose(const char* reason) {
  if (m_Scripts && m_Scripts->Busy()) {
    m_Scripts->Kill();
    Log(llWarn, "a running ScriptCmd was stopped by the close");
  }
  if (!m_ScriptQueue.empty()) {
    Log(llWarn, std::to_string(m_ScriptQueue.size()) + " waiting ScriptCmd texts were not run because of the close");
    m_ScriptQueue.clear();
  }
  Save("map data", ".sav");
  m_Closed = true;
  m_Closing = false;
  SetState(msNotExist);
  m_Record->HeartBeat = 0;
  m_Record->Hwnd = 0;
  m_Record->CloseRequest = 0;
  Log(llInfo, std::string("closed (") + reason + ")");
}

void MapServer::Shutdown(const char* reason) {
  if (m_Closed) return;
  FinishClose(reason);
}

void MapServer::OnAnnounced() {
  if (m_Closed || m_Hung) return;
  Log(llInfo, "message 1027 from the manager: the start of all maps is announced");
  PublishTexts();
}

void MapServer::Tick(uint32_t now) {
  if (m_Closed || m_Hung) return;
  m_Record->HeartBeat = kHeartBeatRaised;
  m_Record->Hwnd = m_Context.Hwnd;
  m_Record->State = m_State;
  if (m_Phase == Phase::Running) {
    m_Figures.Advance((now - m_RunningTick) / 1000.0);
    SimulateLogEvents();
    if (now - m_LastAutoSaveTick >= kAutoSaveSeconds * 1000u) {
      m_LastAutoSaveTick = now;
      Save("map data (automatic)", ".sav");
    }
  }
  m_Figures.Publish(*m_Record);
  // The texts (the times of the last errors among them) go out before the counters, so that a
  // reader who sees a counter rise finds the time of that error beside it.
  PublishTexts();
  std::atomic_thread_fence(std::memory_order_release);
  PublishCounts();
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
    if (m_Figures.Chance() >= event.Chance) continue;
    char text[160];
    std::snprintf(text, sizeof text, event.Text, static_cast<unsigned>(m_Figures.Chance() * 100000.0));
    Log(event.Level, text);
  }
}

void MapServer::PublishCounts() { std::memcpy(m_Record->LogLevelCounts, m_LogCounts, sizeof m_LogCounts); }

void MapServer::PublishTexts() {
  std::string text = m_Key + " " + m_Context.ProgramName + " version " + std::to_string(m_Context.ServerVersion) +
                     " debug " + (m_Debug ? "1" : "0") + "\n";
  text += "Started " + m_StartedAt + ", pid " + std::to_string(platform::CurrentProcessId()) + ", " +
          StateText(m_State) + "\n";
  text += "Players " + std::to_string(m_Figures.PlayerCnt()) + "/" + std::to_string(m_Figures.MaxPlayerCnt()) +
          ", items " + std::to_string(m_Figures.ItemCnt()) + "/" + std::to_string(m_Figures.MaxItemCnt()) + ", FPS " +
          std::to_string(m_Figures.FPS()) + "\n";
  text += m_Context.AnnouncedAt.empty() ? std::string("Not announced by the manager\n")
                                        : "Announced by the manager at " + m_Context.AnnouncedAt + "\n";
  text += "Window: " + m_Context.ShowState + "\n";
  if (m_ScriptsRun != 0) text += "Scripts run: " + std::to_string(m_ScriptsRun) + "\n";
  if (!m_LastEvent.empty()) text += "Last event: " + m_LastEvent + "\n";

  if (m_Unterminated) {
    FillUnterminated(m_Record->MsgText, text);
    FillUnterminated(m_Record->LastErrorTime, m_LastErrorTime.empty() ? LocalTimeText() + "#" : m_LastErrorTime + "#");
    FillUnterminated(m_Record->LastFatalTime, m_LastFatalTime.empty() ? LocalTimeText() + "#" : m_LastFatalTime + "#");
    FillUnterminated(m_Record->LastPyErrorTime,
                     m_LastPyErrorTime.empty() ? LocalTimeText() + "#" : m_LastPyErrorTime + "#");
    return;
  }
  CopyTerminated(m_Record->MsgText, text);
  CopyTerminated(m_Record->LastErrorTime, m_LastErrorTime);
  CopyTerminated(m_Record->LastFatalTime, m_LastFatalTime);
  CopyTerminated(m_Record->LastPyErrorTime, m_LastPyErrorTime);
  static_assert(kTimeTextSize == 20);
}

}  // namespace mapserver
