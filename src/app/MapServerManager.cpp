#include "app/MapServerManager.h"

#include "app/QtDialogs.h"
#include "commands/OperatorCommands.h"
#include "components/GameDataComponent.h"
#include "components/LogComponent.h"
#include "interfaces/IConfig.h"
#include "interfaces/IGameData.h"
#include "launch/CHalvixProxy.h"
#include "launch/LaunchControl.h"
#include "launch/MapServerLauncher.h"
#include "metrics/MetricsServer.h"
#include "registry/MapServerInfoManager.h"
#include "runtime/ThreadManager.h"
#include "scripting/CPySysGameData.h"
#include "statuslink/CSSLogicProcess.h"
#include "statuslink/IStatusLinkView.h"
#include "statuslink/NetCore.h"
#include "statuslink/StatusLinkControl.h"
#include "statuslink/StatusLinkFigures.h"

namespace app {
namespace {

// The status link's figures as the metrics show them.
class ManagerFigures : public IManagerFigures {
 public:
  bool StatusLinkConnected() override { return GetStatusLinkFigures().Connected.load(); }
  uint64_t StatusRequestsAnswered() override { return GetStatusLinkFigures().RequestsAnswered.load(); }
  int ScriptQueueDepth() override { return GetStatusLinkFigures().ScriptQueueDepth.load(); }
};

}  // namespace

MapServerManager::MapServerManager(ILaunchWindow& window, std::unique_ptr<IStatusLinkView> linkView)
    : m_Window(window), m_StatusLinkView(std::move(linkView)) {}

MapServerManager::~MapServerManager() { Destroy(); }

void MapServerManager::SetConfig(IConfig* config, std::string filePath) {
  m_Config = config;
  m_ConfigFilePath = std::move(filePath);
}

void MapServerManager::CreateLauncher(const std::string& mapDataDir, const std::vector<std::string>& arguments) {
  m_MapDataDir = mapDataDir;
  MapServerLauncher::Settings settings;
  settings.Config = m_Config;
  settings.Window = &m_Window;
  settings.Hooks = this;
  settings.MapDataDir = m_MapDataDir;
  settings.Arguments = arguments;
  m_Launcher = std::make_unique<MapServerLauncher>(settings);
}

bool MapServerManager::CreateSysGameData() {
  m_SysGameData = std::make_unique<CPySysGameData>(m_MapDataDir + "Script/_Selvane.pyd");
  return !m_SysGameData->LoadFailed();
}

MapServerInfoManager& MapServerManager::Maps() const {
  return m_Launcher ? m_Launcher->Maps() : GetMapServerInfoManager();
}

OperatorCommands* MapServerManager::Commands() {
  if (!m_Commands && m_Launcher && m_Config != nullptr)
    m_Commands = std::make_unique<OperatorCommands>(*m_Launcher, *m_Config, m_Window);
  return m_Commands.get();
}

StatusLinkControl& MapServerManager::StatusLink() {
  if (!m_StatusLink) {
    StatusLinkControl::Settings settings;
    settings.Config = m_Config;
    settings.View = m_StatusLinkView.get();
    m_StatusLink = std::make_unique<StatusLinkControl>(settings);
  }
  return *m_StatusLink;
}

bool MapServerManager::StartLaunchControl() {
  launchcontrol::Bind(m_Launcher.get(), &m_Window);
  return launchcontrol::Init();
}

void MapServerManager::StartMetrics() {
  if (m_Config == nullptr || m_Metrics) return;
  const int port = m_Config->GetInt("MetricsPort", 0);
  if (port <= 0) return;
  const char* addressText = m_Config->GetString("MetricsAddress", "");
  const std::string address = addressText != nullptr && addressText[0] != '\0' ? addressText : "127.0.0.1";
  if (!m_ManagerFigures) m_ManagerFigures = std::make_unique<ManagerFigures>();
  m_Metrics = std::make_unique<MetricsServer>(GetMapServerInfoManager(), m_Launcher.get(), *m_ManagerFigures);
  std::string error;
  if (!m_Metrics->Start(address, port, error)) {
    LogObject()->TraceError("TVemoMapServerManagerMain::StartMetrics %s; no metrics are served", error.c_str());
    m_Metrics.reset();
    return;
  }
  LogObject()->TraceInfo("TVemoMapServerManagerMain::StartMetrics metrics at http://%s:%d/metrics", address.c_str(),
                         port);
}

void MapServerManager::LoadShareData() {
  if (IPellwyn* shareData = GetSysTableShareData()) shareData->LoadShareData();
  if (m_SysGameData) m_SysGameData->InitPyData();
}

void MapServerManager::Close() {
  // Nothing is started or stopped through launch control once the close has begun.
  launchcontrol::BeginClose();
  // The status link and its request thread go first, before anything they use.
  StatusLink().StopStatusServer();
  m_Metrics.reset();
  // A worker waiting for the operator's answer must not keep StopAll waiting for it.
  if (QtDialogs* dialogs = QtDialogs::Instance()) dialogs->ReleaseWaitingCallers();
  ThreadManager::GetInstance()->StopAll();
  m_SysGameData.reset();
}

void MapServerManager::Destroy() {
  if (m_Destroyed) return;
  m_Destroyed = true;
  // The components go in another order than game data, launch control, status logic: the
  // launch-control client is cut off first, so that no start or stop reaches a window being
  // torn down; the status link's request thread, which may still answer from the map list
  // (whose maps were built from the game data's items), ends with the status logic before
  // the game data goes; the log lights and the instance segment close last.
  launchcontrol::Release();
  if (m_StatusLink) m_StatusLink->Shutdown();
  if (m_GameDataLoaded) {
    UnloadGameDataComponent();
    m_GameDataLoaded = false;
  }
  m_InstanceSegment.Close();
}

// The launch-control component hears of "Start" (only while it runs).
void MapServerManager::NotifyStarting() { CHalvixProxy::GetProxy().NotifyStarting(); }
void MapServerManager::NotifyStarted() { CHalvixProxy::GetProxy().NotifyStarted(); }

// "Start" loads the status link's network core and hands it the line number.
void MapServerManager::LoadNetCore() { ::LoadNetCore(); }
bool MapServerManager::IsNetCoreLoaded() { return ::IsNetCoreLoaded(); }

// The link is made once the core is loaded; without a core there is no line number to keep.
void MapServerManager::SetLineId(int lineId) {
  if (CSSLogicProcess* link = GetSSLogicProcess()) link->SetLineId(lineId);
}
int MapServerManager::GetLineId() {
  CSSLogicProcess* link = GetSSLogicProcess();
  return link != nullptr ? link->GetLineId() : 0;
}

void MapServerManager::ServiceStarted() {
  if (m_Config == nullptr || !m_Config->GetBool("AutoConnectStatusServer", false)) return;
  LogObject()->TraceInfo("TVemoMapServerManagerMain: AutoConnectStatusServer is set, the status link starts");
  StatusLink().AutoConnectStatusServer();
}

}  // namespace app
