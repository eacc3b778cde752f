#include "commands/OperatorCommands.h"

#include "common/Utils.h"
#include "components/LogComponent.h"
#include "interfaces/IConfig.h"
#include "launch/ILaunchWindow.h"
#include "launch/MapServerLauncher.h"
#include "platform/dialogs.h"
#include "platform/message_bus.h"
#include "registry/MapServerInfoManager.h"
#include "registry/RecordAccess.h"

OperatorCommands::OperatorCommands(MapServerLauncher& launcher, IConfig& config, ILaunchWindow& window)
    : m_Launcher(launcher), m_Config(config), m_Window(window) {}

MapServerInfo* OperatorCommands::MapAt(int position) const { return m_Launcher.Maps().GetMapInfo(position); }

// ---------------------------------------------------------------------------------------
// The map list's pop-up menu

void OperatorCommands::StartSelected(int position) {
  LogObject()->TraceDebug("TVemoMapServerManagerMain::niStartSelectClick Manual restarting map index = %d...",
                          position);
  m_Launcher.StartOneServer(position, true);
}

void OperatorCommands::CloseSelected(int position) {
  if (position < 0) return;
  LogObject()->TraceDebug("TVemoMapServerManagerMain::niCloseMapServerClick Manual closing map index = %d", position);
  m_Launcher.CloseOneServer(position, true);
}

void OperatorCommands::ResetLogCountSelected(int position) {
  if (position < 0) return;
  LogObject()->LogWarn("TVemoMapServerManagerMain::niResetLogCountClick index = %d", position);
  ResetLogCount(position);
}

void OperatorCommands::ResetLogCount(int position) {
  MapServerInfo* info = MapAt(position);
  tagMapServerData* data = info != nullptr ? info->GetShareData() : nullptr;
  // Only a live map server of this machine is asked (the record's process id is not trusted).
  if (data == nullptr || record::ProcessId(*data) == 0 || !m_Launcher.IsMapServerAlive(*info)) return;
  if (!platform::CurrentDialogs().Ask(FormatText("Reset Log of this Map(%s)?", info->GetDisplayName().c_str()),
                                      "ResetLogCount"))
    return;
  record::PostResetLogRequest(*data);
}

void OperatorCommands::BringToTop(int position) {
  MapServerInfo* info = position >= 0 ? MapAt(position) : nullptr;
  if (info == nullptr) {
    platform::CurrentDialogs().Message("Can'tFindServer");
    return;
  }
  const tagMapServerData* data = info->GetShareData();
  if (data == nullptr) return;
  const platform::WindowHandle window = record::Hwnd(*data);
  platform::SendMessage(window, platform::WM_SYSCOMMAND, platform::SC_RESTORE, 0);
  platform::RestoreWindow(window);
  platform::SetForegroundWindow(window);
}

void OperatorCommands::MinimizeAll() {
  MapServerInfoManager& maps = m_Launcher.Maps();
  for (int i = 0; i < maps.GetMapInfoCount(); ++i)
    if (const tagMapServerData* data = maps.GetMapInfo(i)->GetShareData())
      platform::MinimizeWindow(record::Hwnd(*data));
}

void OperatorCommands::StartRestartMap() {
  std::string text = "0";
  if (!platform::CurrentDialogs().InputBox("Input MapID", "Query", text)) return;
  const int mapId = TextToIntDef(text, 0);
  MapServerInfoManager& maps = m_Launcher.Maps();
  for (int i = 0; i < maps.GetMapInfoCount(); ++i) {
    if (maps.GetMapInfo(i)->GetMapData().GetMapID() != mapId) continue;
    LogObject()->TraceDebug("TVemoMapServerManagerMain::miStartRestartMapClick Manual restaring mapdID = %d", mapId);
    m_Launcher.StartOneServer(i, true);
    return;
  }
}

// ---------------------------------------------------------------------------------------
// Settings

bool OperatorCommands::BrowseScriptPath(std::string& scriptPath) {
  std::string chosen;
  if (!BrowseForFolder(nullptr, "Select script path:", chosen)) return false;
  // The folder always ends with one separator (a chosen root "/" keeps its own).
  scriptPath = chosen.ends_with('/') ? chosen : chosen + "/";
  m_Config.SetString("edtScriptPath", scriptPath.c_str());
  return true;
}

bool OperatorCommands::DebugModuleReleased(bool checked) {
  m_Config.SetBool("cbDebugModule", checked);
  if (m_Config.GetBool("cbDebugModule", false) &&
      !platform::CurrentDialogs().Ask("It Will Open Debug Module, Are You Sure?", "Confirm")) {
    m_Config.SetBool("cbDebugModule", false);
    return false;
  }
  const int32_t debug = m_Config.GetBool("cbDebugModule", false) ? 1 : 0;
  MapServerInfoManager& maps = m_Launcher.Maps();
  for (int i = 0; i < maps.GetMapInfoCount(); ++i)
    if (tagMapServerData* data = maps.GetMapInfo(i)->GetShareData()) record::Store(data->DebugModule, debug);
  return checked;
}

// ---------------------------------------------------------------------------------------
// Debug page and script runner

void OperatorCommands::OutputMemory() {
  std::string text;
  MapServerInfoManager& maps = m_Launcher.Maps();
  for (int i = 0; i < maps.GetMapInfoCount(); ++i) {
    MapServerInfo* info = maps.GetMapInfo(i);
    const platform::MemoryCounters counters = info->GetMemoryCounters();
    const std::string workingSet = FormatText("%0.3f", static_cast<double>(counters.WorkingSetSize) / 1024 / 1024);
    const std::string pagefile = FormatText("%0.3f", static_cast<double>(counters.PagefileUsage) / 1024 / 1024);
    text += FormatText("%s\t%d\t%s\t%s", info->GetDisplayName().c_str(), info->GetMapData().GetMapID(),
                       workingSet.c_str(), pagefile.c_str());
    text += "\r\n";
  }
  LogObject()->TraceDebug("%s", text.c_str());
}

int OperatorCommands::ExecuteScript(const std::string& text) {
  if (text.empty()) return 0;
  int written = 0;
  MapServerInfoManager& maps = m_Launcher.Maps();
  for (int i = 0; i < maps.GetMapInfoCount(); ++i) {
    if (tagMapServerData* data = maps.GetMapInfo(i)->GetShareData()) {
      record::WriteScriptCmd(*data, text);
      ++written;
    }
  }
  return written;
}

// The null store is the point: the undefined-behaviour checker of a sanitizer build must let
// it reach the processor, so that the crash report is what a real fault gives.
__attribute__((no_sanitize("undefined"))) void OperatorCommands::TestCrashReport() {
  if (!platform::CurrentDialogs().Ask(
          "TestEurekaLog ends the manager with a crash report (the map servers keep running). Go on?", "TestEurekaLog"))
    return;
  LogObject()->TraceWarn("TVemoMapServerManagerMain::btnTestEurekaLogClick raising an access fault on purpose");
  // The log is flushed now: the fault ends the process without the log's own shutdown.
  ReleaseLogObject();
  volatile int* volatile nowhere = nullptr;
  *nowhere = 0;
}

// ---------------------------------------------------------------------------------------
// Copy data

void OperatorCommands::HandleCopyData(uint32_t number, const std::vector<uint8_t>& data) {
  // Exactly the bytes that came, whatever they hold: no terminator is looked for.
  const std::string text(data.begin(), data.end());
  switch (number) {
    case COPYDATA_CLOSE_ALL_AND_EXIT: CloseAllAndExit(); break;
    case COPYDATA_REGISTER_CONTROLLER: RegisterController(text); break;
    default:  // 0, 1, 2 and every other number are ignored
      break;
  }
}

void OperatorCommands::CloseAllAndExit() {
  if (m_Launcher.GetTotalPlayerCnt() != 0) {
    LogObject()->TraceInfo("if(this->GetTotalPlayerCnt() != 0)");
    return;
  }
  // A start pass running now would launch map servers behind the kill loop, and they would
  // outlive the manager.
  m_Launcher.EndLaunches();
  MapServerInfoManager& maps = m_Launcher.Maps();
  for (int i = 0; i < maps.GetMapInfoCount(); ++i) {
    MapServerInfo* info = maps.GetMapInfo(i);
    if (info->GetShareData() == nullptr || !m_Launcher.IsMapServerAlive(*info)) continue;
    m_Launcher.KillProcess(*info);
    m_Window.ProcessMessages();
  }
  LogObject()->TraceInfo("Close Success!");
  // The process ends at once: the log is flushed and released before the controller hears
  // of the end, so that it finds every line in the file.
  ReleaseLogObject();
  m_Launcher.NotifyController(WM_CONTROLLER_CLOSED);
  m_Window.EndProcess(0);
}

void OperatorCommands::RegisterController(const std::string& text) {
  std::vector<std::string> parts;
  SplitText(text, "|", parts);
  if (parts.size() != 2) return;
  m_Launcher.SetControllerWindow(parts[0], parts[1]);
  m_Launcher.NotifyController(WM_CONTROLLER_REGISTERED);
}
