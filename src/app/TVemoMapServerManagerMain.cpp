#include "app/TVemoMapServerManagerMain.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QTimer>

#include "app/MainWindowLayout.h"
#include "app/MapServerManager.h"
#include "components/LogComponent.h"
#include "interfaces/IConfig.h"
#include "interfaces/IGameData.h"
#include "launch/MapServerLauncher.h"
#include "platform/debug_output.h"
#include "platform/dialogs.h"
#include "statuslink/IStatusLinkView.h"
#include "views/LogLights.h"

namespace {

constexpr const char* kWindowClass = "TVemoMapServerManagerMain";
constexpr const char* kInitialCaption = "地图服务器管理器, 数目:%d";
// The platform's query whether the user may log off or shut down.
constexpr uint32_t WM_QUERYENDSESSION = 17;

// "宋体" where it is installed; otherwise the first of these that renders Han texts.
QFont ManagerFont() {
  QFont font(QString::fromUtf8("宋体"));
  font.setFamilies({QString::fromUtf8("宋体"), "SimSun", "NSimSun", "WenQuanYi Zen Hei", "Noto Sans CJK SC",
                    "Droid Sans Fallback", "AR PL UMing CN"});
  font.setPixelSize(12);
  return font;
}

}  // namespace

TVemoMapServerManagerMain::TVemoMapServerManagerMain(QWidget* parent)
    : QMainWindow(parent), m_Ui(std::make_unique<app::MainWindowLayout>()) {
  setObjectName(kWindowClass);
  setFont(ManagerFont());
  setWindowTitle(QString::fromUtf8(kInitialCaption));
  m_Ui->SetupUi(this);
  m_Manager = std::make_unique<app::MapServerManager>(static_cast<ILaunchWindow&>(*this), NewStatusLinkView());
  connect(m_Ui->btApply, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btApplyClick);
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
                                      [this](const platform::BusMessage& message) { OnBusMessage(message); });
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

platform::WindowHandle TVemoMapServerManagerMain::Handle() const { return m_Bus ? m_Bus->Handle() : 0; }

TVemoMapServerManagerMain::StartupOutcome TVemoMapServerManagerMain::FormCreate(const QStringList& arguments) {
  std::vector<std::string> args;
  for (const QString& argument : arguments) args.push_back(argument.toStdString());
  const StartupOutcome outcome = app::ManagerStartup(*m_Manager, Handle(), std::move(args)).Run();
  if (outcome.kind != StartupOutcome::Kind::Running) return outcome;
  ShowStartedUp();
  LogObject()->TraceInfo("TVemoMapServerManagerMain::FormCreate done, window %u waits for Start", Handle());
  return outcome;
}

void TVemoMapServerManagerMain::ShowStartedUp() {
  IConfig* config = m_Manager->Config();
  // The debug check box is not set from the configuration: it starts unchecked.
  m_Ui->cbOpenInCMDLine->setChecked(config->GetBool("cbOpenInCMDLine", false));
  m_Ui->edtScriptPath->setText(QString::fromUtf8(config->GetString("edtScriptPath", "")));

  m_Ui->pcMain->setCurrentIndex(0);
  m_Ui->pcView->setCurrentIndex(0);
  m_Ui->pcSetting->setCurrentIndex(0);

  // The message hook: from now on the window's bus messages reach WndMethod, once the
  // message loop runs (messages posted during start-up wait until then).
  if (m_BusNotifier != nullptr) m_BusNotifier->setEnabled(true);

  // Only "Start" until the service is started.
  EnableServiceButtons(false);

  CreateLogLights();
  m_SelectedCell = -1;

  if (m_Manager->StartLaunchControl()) m_Ui->tmProcessLauncher->start();
  m_Ui->ttTimer->start();
  m_Manager->StartMetrics();
}

bool TVemoMapServerManagerMain::FormCloseQuery() { return platform::CurrentDialogs().Ask("CloseProc?", "CloseAsk"); }

void TVemoMapServerManagerMain::FormClose() {
  if (m_Closed) return;
  m_Closed = true;
  m_Closing = true;
  // Launch control's poll stops first: nothing is started or stopped through it once the close has begun.
  m_Ui->tmProcessLauncher->stop();
  m_Ui->ttTimer->stop();
  m_Manager->Close();
}

void TVemoMapServerManagerMain::FormDestroy() {
  if (m_Destroyed) return;
  m_Destroyed = true;
  m_Manager->Destroy();
  m_LogLights.reset();
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
  if (event->type() == QEvent::WindowTitleChange && m_Bus) m_Bus->SetTitle(windowTitle().toStdString());
  QMainWindow::changeEvent(event);
}

void TVemoMapServerManagerMain::OnBusMessage(const platform::BusMessage& message) {
  using Kind = platform::BusMessage::Kind;
  switch (message.kind) {
    case Kind::Show: show(); break;
    case Kind::Minimize: showMinimized(); break;
    case Kind::Restore: showNormal(); break;
    case Kind::Raise:
      show();
      raise();
      activateWindow();
      LogObject()->TraceInfo("TVemoMapServerManagerMain brought to the foreground by process %u", message.SenderPid);
      break;
    case Kind::Message:
    case Kind::CopyData: WndMethod(message); break;
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
      m_Manager->LoadShareData();
      break;
    case WM_QUERYENDSESSION:
      // Logging off or shutting down may go ahead without asking the operator.
      break;
    default: break;
  }
}

void TVemoMapServerManagerMain::btApplyClick() {
  if (MapServerLauncher* launcher = Launcher()) launcher->SaveApply();
}

MapServerLauncher* TVemoMapServerManagerMain::Launcher() const { return m_Manager->Launcher(); }
IConfig* TVemoMapServerManagerMain::Config() const { return m_Manager->Config(); }
const std::string& TVemoMapServerManagerMain::MapDataDir() const { return m_Manager->MapDataDir(); }
