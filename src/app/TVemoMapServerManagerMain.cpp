#include "app/TVemoMapServerManagerMain.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QGuiApplication>
#include <QPushButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QScreen>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QTimer>

#include "app/ManagerConfig.h"
#include "app/QtDialogs.h"
#include "commands/OperatorCommands.h"
#include "components/ConfigComponent.h"
#include "components/GameDataComponent.h"
#include "components/LogComponent.h"
#include "interfaces/IConfig.h"
#include "interfaces/IGameData.h"
#include "launch/LaunchControl.h"
#include "launch/MapServerLauncher.h"
#include "metrics/MetricsServer.h"
#include "packet/PacketLog.h"
#include "platform/crash_report.h"
#include "platform/debug_output.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "registry/MapServerInfoManager.h"
#include "runtime/EnvironmentChecks.h"
#include "runtime/ThreadManager.h"
#include "scripting/CPySysGameData.h"
#include "statuslink/IStatusLinkView.h"
#include "statuslink/StatusLinkControl.h"
#include "views/LogLights.h"
#include "views/OwnerDataListModel.h"

namespace {

constexpr const char* kWindowClass = "TVemoMapServerManagerMain";
constexpr const char* kInitialCaption = "地图服务器管理器, 数目:%d";
constexpr const char* kMarkerFileName = "5D2E91C7-0A4B-4F63-9E18-7B3C6A2D40F5";
// The platform's query whether the user may log off or shut down.
constexpr uint32_t WM_QUERYENDSESSION = 17;

// "宋体" where it is installed; otherwise the first of these that renders Han texts.
QFont ManagerFont() {
  QFont font(QString::fromUtf8("宋体"));
  font.setFamilies({QString::fromUtf8("宋体"), "SimSun", "NSimSun", "WenQuanYi Zen Hei",
                    "Noto Sans CJK SC", "Droid Sans Fallback", "AR PL UMing CN"});
  font.setPixelSize(12);
  return font;
}

}  // namespace

TVemoMapServerManagerMain::TVemoMapServerManagerMain(QWidget* parent) : QMainWindow(parent) {
  setObjectName(kWindowClass);
  setFont(ManagerFont());
  setWindowTitle(QString::fromUtf8(kInitialCaption));
  CreateControls();
  connect(btApply, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btApplyClick);
  ConnectLaunchControls();
  ConnectCommandControls();
  ConnectStatusLinkControls();
  ConnectViewControls();

  // Client area 899 x 541, centred on the screen.
  resize(899, 541);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect available = screen->availableGeometry();
    move(available.center() - QPoint(899 / 2, 541 / 2));
  }
  OpenBus();
}

TVemoMapServerManagerMain::~TVemoMapServerManagerMain() { FormDestroy(); }

void TVemoMapServerManagerMain::OpenBus() {
  m_Bus = platform::BusEndpoint::Open(kWindowClass, windowTitle().toStdString(),
                                      [this](const platform::BusMessage& message) {
                                        OnBusMessage(message);
                                      });
  if (!m_Bus) {
    platform::OutputDebugString(
        "TVemoMapServerManagerMain: the message bus endpoint could not be opened; the window "
        "receives no window messages");
    return;
  }
  // Messages are read on the window thread; the hook is switched on during start-up.
  m_BusNotifier = new QSocketNotifier(m_Bus->Fd(), QSocketNotifier::Read, this);
  m_BusNotifier->setEnabled(false);
  connect(m_BusNotifier, &QSocketNotifier::activated, this, [this] { m_Bus->Dispatch(); });
}

platform::WindowHandle TVemoMapServerManagerMain::Handle() const {
  return m_Bus ? m_Bus->Handle() : 0;
}

bool TVemoMapServerManagerMain::IsCheckEurekaActiveSwitch(const QStringList& arguments) {
  return arguments.size() == 1 &&
         arguments.front().compare("-CheckEurekaActive", Qt::CaseInsensitive) == 0;
}

TVemoMapServerManagerMain::StartupOutcome TVemoMapServerManagerMain::FormCreate(
    const QStringList& arguments) {
  using Kind = StartupOutcome::Kind;

  // The crash-reporting query of an installation script: answer and leave.
  if (IsCheckEurekaActiveSwitch(arguments))
    return {Kind::EndProcess, platform::IsCrashReportingActive() ? 0 : 1};
  if (!platform::IsCrashReportingActive()) {
    platform::CurrentDialogs().Message("EurekaLog not active!");
    return {Kind::EndApplication, 1};
  }

  // Configuration: the component reports its own loading failures.
  const std::string exeDir = platform::ExeDir();
  m_ConfigFilePath = app::ConfigFilePath(exeDir);
  if (m_Config == nullptr) m_Config = CreateConfigInterface();
  if (m_Config == nullptr) return {Kind::EndProcess, 1};
  m_Config->Open(m_ConfigFilePath.c_str(), app::kConfigSection);
  app::RegisterConfigDefaults(*m_Config, exeDir);
  m_Config->Apply();
  cbOpenInCMDLine->setChecked(m_Config->GetBool("cbOpenInCMDLine", false));

  // One manager per sign: a second one shows and raises the first and leaves.
  const char* signText = m_Config->GetString("edtMutexSign", "");
  const std::string sign = signText != nullptr ? signText : "";
  if (!QString::fromStdString(sign).trimmed().isEmpty()) {
    std::string error;
    const platform::WindowHandle registered = m_InstanceSegment.GetRegisteredWindow(
        app::InstanceSegment::NameOf(sign), Handle(), &error);
    if (!error.empty())
      LogObject()->TraceError("TVemoMapServerManagerMain::FormCreate %s", error.c_str());
    if (registered != Handle()) {
      platform::ShowWindow(registered);
      platform::SetForegroundWindow(registered);
      return {Kind::EndApplication, 0};
    }
  }

  ILog* log = LogObject();
  log->SetLogPath(platform::LogDir().c_str(), "");
  log->SetMarkerFileFound(platform::FileExists(exeDir + kMarkerFileName) ? 1 : 0);
  log->SetServerName("MapServerManager");
  // The packet layer writes to the same log object.
  packet::SetLogSource(&LogObject);

  RunEnvironmentDump(platform::LogDir());
  RunIntegrityCheck("");
  edtScriptPath->setText(QString::fromUtf8(m_Config->GetString("edtScriptPath", "")));
  if (!DEPCheck()) return {Kind::EndApplication, 1};

  m_MapDataDir = exeDir + "MapServerData/";
  app::SetMapDataDir(m_MapDataDir);
  // The launcher starts with server version 0 and no start of all map servers requested.
  CreateLauncher(arguments);

  const char* gameDataName = "Pellwyn.dll";
  m_GameDataLoaded = LoadGameDataComponent(gameDataName);
  if (!m_GameDataLoaded) {
    const std::string text = std::string("Load ") + gameDataName + " failed!";
    log->LogFatal("%s", text.c_str());
    platform::CurrentDialogs().Message(text);
    return {Kind::EndApplication, 1};
  }

  m_SysGameData =
      std::make_unique<CPySysGameData>(app::MapDataDir() + "Script/_Selvane.pyd");

  if (IPellwyn* shareData = GetSysTableShareData()) {
    shareData->Initialize();
    shareData->SetNotifyWindow(Handle());
  }

  pcMain->setCurrentIndex(0);
  pcView->setCurrentIndex(0);
  pcSetting->setCurrentIndex(0);

  // The message hook: from now on the window's bus messages reach WndMethod, once the
  // message loop runs (messages posted during start-up wait until then).
  if (m_BusNotifier != nullptr) m_BusNotifier->setEnabled(true);

  btnStart->setEnabled(true);
  btnStartStatusServer->setEnabled(false);
  btOpenAll->setEnabled(false);
  btKillAll->setEnabled(false);
  btForceCloseAll->setEnabled(false);
  btApply->setEnabled(false);

  CreateLogLights();
  m_SelectedCell = -1;

  launchcontrol::Bind(m_Launcher.get(), this);
  if (launchcontrol::Init()) tmProcessLauncher->start();

  ttTimer->start();
  StartMetrics();
  log->TraceInfo("TVemoMapServerManagerMain::FormCreate done, window %u waits for Start", Handle());
  return {Kind::Running, 0};
}

bool TVemoMapServerManagerMain::FormCloseQuery() {
  return platform::CurrentDialogs().Ask("CloseProc?", "CloseAsk");
}

void TVemoMapServerManagerMain::FormClose() {
  if (m_Closed) return;
  m_Closed = true;
  m_Closing = true;
  // The status link and its request thread go first, before anything they use.
  StopStatusLinkOnClose();
  ttTimer->stop();
  StopMetrics();
  // A worker waiting for the operator's answer must not keep StopAll waiting for it.
  if (app::QtDialogs* dialogs = app::QtDialogs::Instance()) dialogs->ReleaseWaitingCallers();
  ThreadManager::GetInstance()->StopAll();
  m_SysGameData.reset();
}

void TVemoMapServerManagerMain::FormDestroy() {
  if (m_Destroyed) return;
  m_Destroyed = true;
  // The components go in another order than game data, launch control, status logic: the
  // launch-control client is cut off first, so that no start or stop reaches a window being
  // torn down; the status link's request thread, which may still answer from the map list
  // (whose maps were built from the game data's items), ends with the status logic before
  // the game data goes; the log lights and the instance segment close last, as specified.
  launchcontrol::Release();
  ReleaseStatusLink();
  if (m_GameDataLoaded) {
    UnloadGameDataComponent();
    m_GameDataLoaded = false;
  }
  m_LogLights.reset();
  m_InstanceSegment.Close();
}

void TVemoMapServerManagerMain::CloseWithoutQuestion(int signalNumber) {
  LogObject()->TraceWarn("TVemoMapServerManagerMain: signal %d, closing without the question", signalNumber);
  m_CloseWithoutQuestion = true;
  FormClose();
  close();
  QCoreApplication::quit();
}

void TVemoMapServerManagerMain::closeEvent(QCloseEvent* event) {
  if (!m_CloseWithoutQuestion && !FormCloseQuery()) {
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}

void TVemoMapServerManagerMain::changeEvent(QEvent* event) {
  // Other programs find the window by its class and caption.
  if (event->type() == QEvent::WindowTitleChange && m_Bus)
    m_Bus->SetTitle(windowTitle().toStdString());
  QMainWindow::changeEvent(event);
}

void TVemoMapServerManagerMain::OnBusMessage(const platform::BusMessage& message) {
  using Kind = platform::BusMessage::Kind;
  switch (message.kind) {
    case Kind::Show:
      show();
      break;
    case Kind::Minimize:
      showMinimized();
      break;
    case Kind::Restore:
      showNormal();
      break;
    case Kind::Raise:
      show();
      raise();
      activateWindow();
      LogObject()->TraceInfo("TVemoMapServerManagerMain brought to the foreground by process %u",
                             message.SenderPid);
      break;
    case Kind::Message:
    case Kind::CopyData:
      WndMethod(message);
      break;
  }
}

void TVemoMapServerManagerMain::WndMethod(const platform::BusMessage& message) {
  if (message.kind == platform::BusMessage::Kind::CopyData) {
    OnCopyData(message);
    return;
  }
  switch (message.Msg) {
    case WM_MAPMANAGER_LOAD_SHAREDATA:
      LogObject()->TraceDebug(
          "TFrmMain::WndMethod WM_MAPMANAGER_LOAD_SHAREDATA, GetSysTableShareData()->LoadShareData()");
      if (IPellwyn* shareData = GetSysTableShareData()) shareData->LoadShareData();
      if (m_SysGameData) m_SysGameData->InitPyData();
      break;
    case WM_QUERYENDSESSION:
      // Logging off or shutting down may go ahead without asking the operator.
      break;
    default:
      break;
  }
}

void TVemoMapServerManagerMain::btApplyClick() {
  if (m_Launcher) m_Launcher->SaveApply();
}
