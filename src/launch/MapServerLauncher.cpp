#include "launch/MapServerLauncher.h"

#include "launch/LaunchScopes.h"

#include <cstdio>
#include <limits>

#include "common/Utils.h"
#include "components/LogComponent.h"
#include "interfaces/IConfig.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/message_bus.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "registry/MapServerInfoManager.h"
#include "registry/RecordAccess.h"
#include "runtime/EnvironmentChecks.h"
#include "runtime/ThreadManager.h"

using launch_detail::MapClaim;
using launch_detail::NotedProcess;
using launch_detail::ProgramWord;

namespace {

// How long a close waits for the map server to end by itself before it is killed.
constexpr uint32_t kCloseWaitMs = 60000;
// The script a map server runs before it closes.
constexpr const char* kCloseScript = "import Tessmark\nTessmark.RunCMD('SavePlayerBackupFile')";
// Descriptors the manager holds besides its maps' (libraries, log, bus, sockets, the
// status link), and per map: its record (the segment's handle and its view's own hold),
// its map server's handle and the /proc stat and status files that the sampler keeps
// open to sample it without a path look-up.
constexpr uint64_t kBaseDescriptors = 64;
constexpr uint64_t kDescriptorsPerMap = 5;
constexpr const char* kRefusedReload =
    "The map list cannot be reloaded while map servers are being started or closed. Try again when that is done.";

// The interpreter of a compiled line-information script.
constexpr const char* kSystemPython = "/usr/bin/python3";

// A text inserted into a shell command as one word, whatever it holds.
std::string ShellWord(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

}  // namespace

MapServerLauncher::MapServerLauncher(const Settings& settings)
    : m_Config(settings.Config),
      m_Window(settings.Window),
      m_Hooks(settings.Hooks != nullptr ? settings.Hooks : &m_NoHooks),
      m_Maps(settings.Maps != nullptr ? settings.Maps : &GetMapServerInfoManager()),
      m_Threads(settings.Threads != nullptr ? settings.Threads : ThreadManager::GetInstance()),
      m_MapDataDir(settings.MapDataDir),
      m_Arguments(settings.Arguments),
      m_Processes(settings.MapDataDir) {}

MapServerLauncher::~MapServerLauncher() {
  // The workers run this launcher's work functions: they end before it does (the window's
  // close has usually stopped them already).
  if (m_ServiceStarted && m_Threads->GetThreadCount() > 0) m_Threads->StopAll();
}

// ---------------------------------------------------------------------------------------
// "Start"

void MapServerLauncher::StartService() {
  // Once per manager run, and never once the window closes: its workers were stopped.
  if (m_ServiceStarted || m_Window->IsClosing()) return;
  m_ServiceStarted = true;
  m_Window->SetServiceStarted();
  m_Hooks->NotifyStarting();
  m_Hooks->LoadNetCore();

  m_ServerVersion = RunLineInformationStep();
  m_Window->SetServerVersionText(FormatText("Server Version : %d", m_ServerVersion));

  {
    // No worker exists yet, so nobody else reads the list.
    auto rebuild = m_Maps->LockForRebuild(nullptr);
    const bool debug = m_Config->GetBool("cbDebugModule", false);
    m_Maps->LoadMapList(m_Config->GetInt("edtMapManagerNum", 0), m_MapDataDir + "Map/" + "MapID.txt", debug);
    for (int i = 0; i < m_Maps->GetMapInfoCount(); ++i)
      if (tagMapServerData* data = m_Maps->GetMapInfo(i)->GetShareData())
        record::Store(data->DebugModule, debug ? 1 : 0);
  }
  m_Window->SetMapCount(m_Maps->GetMapInfoCount());
  m_Window->SetCaption("MapServerManager");
  CheckDescriptorBudget();

  m_StartEvent = m_Threads->CreateEvent("");
  m_StartEvent->ResetEvent();
  m_Threads->AddThread("StartServer", &MapServerLauncher::StartServerWork, this, false);
  m_Threads->AddThread("ClearLastWeekLog", &MapServerLauncher::ClearLastWeekLogWork, this, false);
  m_Threads->StartAll();

  RunCommandLineStarts();
  m_Hooks->NotifyStarted();
  m_Hooks->ServiceStarted();
}

uint64_t MapServerLauncher::DescriptorsNeeded(int mapCount) {
  return kBaseDescriptors + kDescriptorsPerMap * static_cast<uint64_t>(mapCount > 0 ? mapCount : 0);
}

void MapServerLauncher::CheckDescriptorBudget() const {
  const uint64_t limit = platform::OpenFileLimit();
  const uint64_t need = DescriptorsNeeded(m_Maps->GetMapInfoCount());
  if (limit >= need) return;
  LogObject()->LogWarn(
      "MapServerLauncher::StartService the open-file limit is %llu descriptors but %d maps need "
      "about %llu; map servers beyond the limit cannot be launched or supervised (raise the "
      "limit with ulimit -n or LimitNOFILE)",
      static_cast<unsigned long long>(limit), m_Maps->GetMapInfoCount(), static_cast<unsigned long long>(need));
}

void MapServerLauncher::RunCommandLineStarts() {
  if (m_Arguments.size() == 3 && AsciiLower(m_Arguments[0]) == "autostart") {
    SetControllerWindow(m_Arguments[1], m_Arguments[2]);
    CacheLaunchSettings();
    StartAllServers(false);
    NotifyController(WM_CONTROLLER_AUTOSTARTED);
  }
  for (const std::string& argument : m_Arguments) {
    if (AsciiLower(argument) != "-autolaunch") continue;
    CacheLaunchSettings();
    StartAllServers(false);
  }
}

int MapServerLauncher::RunLineInformationStep() {
  const std::string configDir = m_MapDataDir + "MapServerConfig/";
  std::string script;
  for (const char* extension : {".py", ".pyc", ".pyo"}) {
    if (platform::FileExists(configDir + "Sarvent" + extension)) {
      script = configDir + "Sarvent" + extension;
      break;
    }
  }
  if (script.empty()) return 0;

  // A result left by an earlier run must not stand for this one.
  const std::string resultPath = configDir + "SarventResult/Result.txt";
  std::remove(resultPath.c_str());

  // The values are passed as single words, so nothing in the configuration reaches the
  // shell as a command. A ".py" script runs by its own first line; compiled code has none
  // and is handed to the system's Python interpreter.
  const char* ip = m_Config->GetString("edt_ip", "");
  const bool compiled = script.size() > 4 && script.compare(script.size() - 4, 3, ".py") == 0;
  const std::string program = compiled ? kSystemPython + std::string(" ") + ShellWord(script) : ShellWord(script);
  const std::string command = FormatText("%s %s %d", program.c_str(), ShellWord(ip != nullptr ? ip : "").c_str(),
                                         m_Config->GetInt("edt_port", 0));
  int exitCode = 0;
  platform::RunShellCommand(command, configDir, &exitCode);

  std::string text;
  if (!platform::FileExists(resultPath) || !ReadWholeFile(resultPath, text)) return 0;
  const std::vector<std::string> lines = SplitLines(text);
  if (lines.size() < 2 && m_Hooks->IsNetCoreLoaded()) {
    platform::CurrentDialogs().Message("请求版本号或者分线ID失败");
    m_Window->EndProcess(1);
  }
  if (lines.empty()) return 0;
  if (lines.size() >= 2 && m_Hooks->IsNetCoreLoaded()) {
    m_Hooks->SetLineId(TextToIntDef(lines[1], 0));
    LogObject()->TraceInfo("Line ID = %d", m_Hooks->GetLineId());
  }
  return TextToIntDef(lines[0], 0);
}

bool MapServerLauncher::SaveApply() {
  if (!ReloadMapList("btApplyClick", true)) return false;
  m_Window->SetMapCount(m_Maps->GetMapInfoCount());
  return true;
}

bool MapServerLauncher::ReloadMapList(const char* reason, bool apply) {
  auto refuse = [&] {
    LogObject()->TraceWarn("TVemoMapServerManagerMain::%s refused: a start pass or a close is in progress", reason);
    platform::CurrentDialogs().Message(kRefusedReload);
    return false;
  };
  if (m_PassRunning.load() || m_Waiting > 0) return refuse();
  auto rebuild = m_Maps->LockForRebuild([this] { return m_PassRunning.load(); });
  if (!rebuild.owns_lock()) return refuse();
  if (apply) m_Config->Apply();
  m_Maps->LoadMapList(m_Config->GetInt("edtMapManagerNum", 0), m_MapDataDir + "Map/" + "MapID.txt",
                      m_Config->GetBool("cbDebugModule", false));
  return true;
}

// ---------------------------------------------------------------------------------------
// One map at a time, on the window thread

bool MapServerLauncher::StartOneServer(int position, bool ask) {
  MapServerInfo* info = m_Maps->GetMapInfo(position);
  MapClaim claim(info);
  if (info != nullptr && !claim.Held()) {
    LogObject()->TraceWarn(
        "TVemoMapServerManagerMain::StartOneServer map index = %d is being started or closed already", position);
    return false;
  }
  if (!CloseClaimed(ask, info)) return false;
  tagMapServerData* data = info != nullptr ? info->GetShareData() : nullptr;
  if (data == nullptr || m_Window->IsClosing()) return false;

  record::Zero(*data);
  const LaunchSettings settings = CurrentLaunchSettings();
  m_Config->SetBool("cbOpenInCMDLine", settings.OpenInCmdLine);
  return LaunchMap(*info, *data, settings, nullptr);
}

bool MapServerLauncher::CloseOneServer(int position, bool ask) {
  MapServerInfo* info = m_Maps->GetMapInfo(position);
  MapClaim claim(info);
  if (info != nullptr && !claim.Held()) {
    LogObject()->TraceWarn(
        "TVemoMapServerManagerMain::CloseOneServer map index = %d is being started or closed already", position);
    return false;
  }
  return CloseClaimed(ask, info);
}

bool MapServerLauncher::CloseClaimed(bool ask, MapServerInfo* info) {
  tagMapServerData* data = info != nullptr ? info->GetShareData() : nullptr;
  if (data == nullptr || !m_Processes.IsAlive(*info)) return true;
  if (ask && !platform::CurrentDialogs().Ask(FormatText("CloseThis(%s)?", info->GetDisplayName().c_str()), "CloseAsk"))
    return false;

  // The process is noted before the request: a handle of the close's own, so that what
  // the record says during the wait, and whatever becomes of the map's handle, can never
  // make the close kill another process or leave this one running.
  const NotedProcess noted(info->GetProcessInfo().ProcessHandle);
  record::WriteScriptCmd(*data, kCloseScript);
  info->SetExitExpected(true);
  record::PostCloseRequest(*data);

  auto running = [&] {
    return noted.Handle() != 0 ? platform::IsProcessHandleRunning(noted.Handle()) : m_Processes.IsAlive(*info);
  };
  {
    WaitScope wait(*this);
    const uint32_t start = platform::GetTickCount();
    while (platform::GetTickCount() - start < kCloseWaitMs && running()) {
      platform::SleepMs(100);
      m_Window->ProcessMessages();
      // The window is closing: the map server is left to finish its close by itself.
      if (m_Window->IsClosing()) return false;
    }
  }
  if (noted.Handle() != 0)
    MapServerProcesses::KillProcess(noted.Handle());
  else
    KillProcess(*info);
  m_Window->ProcessMessages();
  record::SetProcessId(*data, 0);
  return true;
}

// ---------------------------------------------------------------------------------------
// All map servers at once

void MapServerLauncher::CloseAllServers() {
  platform::Dialogs& dialogs = platform::CurrentDialogs();
  if (!dialogs.Ask("CloseAll?", "CloseAsk")) return;
  if (GetTotalPlayerCnt() != 0 && !dialogs.Ask("Not All Player Off Line. Close Sure?", "CloseAsk")) return;
  for (int i = 0; i < m_Maps->GetMapInfoCount(); ++i) {
    MapServerInfo* info = m_Maps->GetMapInfo(i);
    tagMapServerData* data = info->GetShareData();
    if (data == nullptr || !m_Processes.IsAlive(*info)) continue;
    info->SetExitExpected(true);
    record::PostCloseRequest(*data);
  }
}

void MapServerLauncher::KillAllServers() {
  platform::Dialogs& dialogs = platform::CurrentDialogs();
  if (!dialogs.Ask("KillAll?", "KillAsk")) return;
  if (GetTotalPlayerCnt() != 0 && !dialogs.Ask("Not All Player Off Line. Close Sure?", "CloseAsk")) return;
  {
    WaitScope wait(*this);
    for (int i = 0; i < m_Maps->GetMapInfoCount() && !m_Window->IsClosing(); ++i) {
      MapServerInfo* info = m_Maps->GetMapInfo(i);
      if (info->GetShareData() == nullptr || !m_Processes.IsAlive(*info)) continue;
      KillProcess(*info);
      m_Window->ProcessMessages();
    }
  }
  m_SingleServerList.Clear();
}

void MapServerLauncher::StopAllServers() {
  {
    WaitScope wait(*this);
    while (GetTotalPlayerCnt() != 0) {
      platform::SleepMs(100);
      m_Window->ProcessMessages();
      if (m_Window->IsClosing()) return;
    }
  }
  for (int i = 0; i < m_Maps->GetMapInfoCount(); ++i) {
    MapServerInfo* info = m_Maps->GetMapInfo(i);
    tagMapServerData* data = info->GetShareData();
    if (data == nullptr || !m_Processes.IsAlive(*info)) continue;
    info->SetExitExpected(true);
    record::PostCloseRequest(*data);
  }
}

int MapServerLauncher::GetTotalPlayerCnt() const {
  // Counts below zero come from a broken record: they count as none, so that they can
  // never cancel out the players of another map.
  long long total = 0;
  for (int i = 0; i < m_Maps->GetMapInfoCount(); ++i) {
    const tagMapServerData* data = m_Maps->GetMapInfo(i)->GetShareData();
    if (data == nullptr) continue;
    const int32_t players = record::PlayerCnt(*data);
    if (players > 0) total += players;
  }
  return total > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(total);
}

// ---------------------------------------------------------------------------------------
// The controller window

void MapServerLauncher::SetControllerWindow(const std::string& windowClass, const std::string& title) {
  m_ControllerClass = windowClass;
  m_ControllerTitle = title;
}

void MapServerLauncher::NotifyController(uint32_t message) const {
  // With no controller named, nothing is found and nothing is sent.
  if (m_ControllerClass.empty() && m_ControllerTitle.empty()) return;
  const platform::WindowHandle window = platform::FindWindow(m_ControllerClass, m_ControllerTitle);
  if (window != 0) platform::SendMessage(window, message, 0, 0);
}
