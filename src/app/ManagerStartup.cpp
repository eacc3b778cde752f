#include "app/ManagerStartup.h"

#include <strings.h>

#include <QString>

#include "app/ManagerConfig.h"
#include "app/MapServerManager.h"
#include "components/ConfigComponent.h"
#include "components/GameDataComponent.h"
#include "components/LogComponent.h"
#include "interfaces/IConfig.h"
#include "interfaces/IGameData.h"
#include "packet/PacketLog.h"
#include "platform/crash_report.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "runtime/EnvironmentChecks.h"

namespace app {
namespace {

using Kind = StartupOutcome::Kind;

constexpr const char* kMarkerFileName = "5D2E91C7-0A4B-4F63-9E18-7B3C6A2D40F5";

// A component without which the manager cannot start: the topmost box, then the process
// ends at once with exit code 1.
StartupOutcome FailToStart(const std::string& text) {
  platform::CurrentDialogs().ErrorBox(text, "Error report");
  return {Kind::EndProcess, 1};
}

}  // namespace

std::optional<int> ManagerStartup::CheckEurekaActiveAnswer(const std::vector<std::string>& arguments) {
  if (arguments.size() != 1 || strcasecmp(arguments.front().c_str(), "-CheckEurekaActive") != 0) return std::nullopt;
  return platform::IsCrashReportingActive() ? 0 : 1;
}

ManagerStartup::ManagerStartup(MapServerManager& manager, platform::WindowHandle window,
                               std::vector<std::string> arguments)
    : m_Manager(manager), m_Window(window), m_Arguments(std::move(arguments)) {}

StartupOutcome ManagerStartup::Run() {
  if (!platform::IsCrashReportingActive()) {
    platform::CurrentDialogs().Message("EurekaLog not active!");
    return {Kind::EndApplication, 1};
  }
  if (StartupOutcome outcome = OpenConfiguration(); outcome.kind != Kind::Running) return outcome;
  // One manager per sign: a second one shows and raises the first and leaves.
  if (!TakeInstance()) return {Kind::EndApplication, 0};
  if (StartupOutcome outcome = StartLogging(); outcome.kind != Kind::Running) return outcome;
  if (StartupOutcome outcome = RunEnvironmentChecks(); outcome.kind != Kind::Running) return outcome;
  // The launcher starts with server version 0 and no start of all map servers requested.
  m_Manager.CreateLauncher(platform::ExeDir() + "MapServerData/", m_Arguments);
  return LoadComponents();
}

StartupOutcome ManagerStartup::OpenConfiguration() {
  const std::string exeDir = platform::ExeDir();
  IConfig* config = m_Manager.Config();
  if (config == nullptr) {
    std::string failure;
    config = CreateConfigInterface(&failure);
    if (!failure.empty()) return FailToStart(failure);
    // CreateConfig gave nothing: the process ends without a message.
    if (config == nullptr) return {Kind::EndProcess, 1};
  }
  m_Manager.SetConfig(config, ConfigFilePath(exeDir));
  config->Open(m_Manager.ConfigFilePath().c_str(), kConfigSection);
  RegisterConfigDefaults(*config, exeDir);
  config->Apply();
  return {Kind::Running, 0};
}

bool ManagerStartup::TakeInstance() {
  const char* signText = m_Manager.Config()->GetString("edtMutexSign", "");
  const std::string sign = signText != nullptr ? signText : "";
  if (QString::fromStdString(sign).trimmed().isEmpty()) return true;
  std::string error;
  const platform::WindowHandle registered =
      m_Manager.Instance().GetRegisteredWindow(InstanceSegment::NameOf(sign), m_Window, &error);
  if (!error.empty()) LogObject()->TraceError("TVemoMapServerManagerMain::FormCreate %s", error.c_str());
  if (registered == m_Window) return true;
  platform::ShowWindow(registered);
  platform::SetForegroundWindow(registered);
  return false;
}

StartupOutcome ManagerStartup::StartLogging() {
  std::string failure;
  if (!LoadLogComponent(&failure)) return FailToStart(failure);
  ILog* log = LogObject();
  log->SetLogPath(platform::LogDir().c_str(), "");
  log->SetMarkerFileFound(platform::FileExists(platform::ExeDir() + kMarkerFileName) ? 1 : 0);
  log->SetServerName("MapServerManager");
  // The packet layer writes to the same log object.
  packet::SetLogSource(&LogObject);
  return {Kind::Running, 0};
}

StartupOutcome ManagerStartup::RunEnvironmentChecks() {
  // Each check has told the operator and the log what failed.
  if (!RunEnvironmentDump(platform::LogDir())) return {Kind::EndProcess, 1};
  if (!RunIntegrityCheck("")) return {Kind::EndProcess, -1};
  if (!DEPCheck()) return {Kind::EndApplication, 1};
  return {Kind::Running, 0};
}

StartupOutcome ManagerStartup::LoadComponents() {
  const char* gameDataName = "Pellwyn.dll";
  if (!LoadGameDataComponent(gameDataName)) {
    const std::string text = std::string("Load ") + gameDataName + " failed!";
    LogObject()->LogFatal("%s", text.c_str());
    platform::CurrentDialogs().Message(text);
    return {Kind::EndApplication, 1};
  }
  m_Manager.SetGameDataLoaded();
  // A system data component that is there but cannot be loaded ends the process.
  if (!m_Manager.CreateSysGameData()) return {Kind::EndProcess, -1};
  if (IPellwyn* shareData = GetSysTableShareData()) {
    shareData->Initialize();
    shareData->SetNotifyWindow(m_Window);
  }
  return {Kind::Running, 0};
}

}  // namespace app
