// The manager's main window. A thin view over the manager's logic: FormCreate runs the
// start-up sequence, closing asks and shuts down, WndMethod receives the window messages
// of the message bus, and the timers and controls call operations that tests can call too.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <memory>
#include <string>

#include "app/InstanceSegment.h"
#include "launch/ILaunchWindow.h"
#include "platform/message_bus.h"

class CPySysGameData;
class IManagerFigures;
class MetricsServer;
class MapServerInfoManager;
class MapServerLauncher;
class OperatorCommands;
class IStatusLinkView;
class MapServerLauncher;
class StatusLinkControl;
class IConfig;
class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPainter;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QSocketNotifier;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QTableView;
class QTimer;

namespace views {
class LogLights;
class OwnerDataListModel;
class StateGrid;
class StateLegend;
}  // namespace views

class TVemoMapServerManagerMain : public QMainWindow, private ILaunchWindow {
  Q_OBJECT

 public:
  // What start-up asks of the program's entry.
  struct StartupOutcome {
    enum class Kind {
      Running,         // show the window and run the message loop
      EndApplication,  // tear the window down normally and leave with exitCode
      EndProcess,      // end at once with exitCode, nothing torn down
    };
    Kind kind = Kind::Running;
    int exitCode = 0;
  };

  explicit TVemoMapServerManagerMain(QWidget* parent = nullptr);
  ~TVemoMapServerManagerMain() override;

  // True when the arguments are exactly "-CheckEurekaActive", in any letter case.
  static bool IsCheckEurekaActiveSwitch(const QStringList& arguments);

  // The start-up sequence. `arguments` are the command-line arguments without the
  // program name.
  StartupOutcome FormCreate(const QStringList& arguments);
  // Asks "CloseProc?"; true when the window may close.
  bool FormCloseQuery();
  // The shutdown steps when the window closes.
  void FormClose();
  // The destruction steps (also run by the destructor, once).
  void FormDestroy();
  // A termination signal: the close steps without the question, then the message loop
  // ends. Map servers are left running, as on any close.
  void CloseWithoutQuestion(int signalNumber);

  // The window messages of the bus.
  void WndMethod(const platform::BusMessage& message);
  // The refresh timer (MainWindowViews.cpp).
  void ttTimerTimer();
  // "SaveApply".
  void btApplyClick();

  // Launching and supervision (MainWindowLaunch.cpp): each handler calls the launcher.
  void btnStartClick();
  void btOpenAllClick();
  void btForceCloseAllClick();
  void btKillAllClick();
  void btMiniOpenAllClick();
  void btMiniCloseAllClick();
  void tmReconnectCheckTimer();
  // Operator commands and window messages (MainWindowCommands.cpp): each handler passes
  // its control's state to OperatorCommands.
  void niStartSelectClick();
  void niCloseMapServerClick();
  void niResetLogCountClick();
  void miBrindTopWndClick();
  void niHideAllClick();
  void miStartRestartMapClick();
  void btnBrowseScriptPathClick();
  void cbDebugModuleMouseUp();
  void btOutPutMsgClick();
  void btnTestEurekaLogClick();
  void btRunScriptClick();
  void tmProcessLauncherTimer();
  // The commands; null until the launcher exists.
  OperatorCommands* Commands();
  // The selected row of the map list view, -1 when none.
  int SelectedMapPosition() const;
  // The monitoring views (MainWindowViews.cpp): rows of both list views, one grid cell,
  // clicks on the grid, and the log lights of the selected cell.
  QString lvMapsData(int row, int column) const;
  QString lvMapServerListData(int row, int column) const;
  void sgMapDrawCell(int col, int row, QPainter& painter, const QRect& rect);
  void sgMapClick();
  void sgMapDblClick();
  views::LogLights* LogLightsStrip() const { return m_LogLights.get(); }

  // The launcher; null until start-up has set the map data directory.
  MapServerLauncher* Launcher() const { return m_Launcher.get(); }
  // The status server link (MainWindowStatusLink.cpp).
  void btnStartStatusServerClick();
  void btnStopStatusServerClick();
  // The link's logic; made on first use, once the configuration is open.
  StatusLinkControl& StatusLink();
  // With "AutoConnectStatusServer" set: the start of the status link, right after "Start".
  void AutoConnectStatusServer();
  // True once the window has begun to close.
  bool IsClosing() override { return m_Closing; }

  // The window's bus handle (0 when the bus could not be opened).
  platform::WindowHandle Handle() const;
  IConfig* Config() const { return m_Config; }
  const std::string& MapDataDir() const { return m_MapDataDir; }
  int ServerVersion() const;
  int SelectedCell() const { return m_SelectedCell; }
  bool StartAllRequested() const;

  // Controls, named as in the window's outline.
  QWidget* pnlBottom = nullptr;
  QLabel* lblRunGateServer = nullptr;
  QPushButton* btnStart = nullptr;
  QPushButton* btOpenAll = nullptr;
  QPushButton* btForceCloseAll = nullptr;
  QPushButton* btKillAll = nullptr;
  QPushButton* btnStartStatusServer = nullptr;
  QPushButton* btnStopStatusServer = nullptr;
  QStatusBar* sbStatus = nullptr;

  QTabWidget* pcMain = nullptr;
  QWidget* tsSetting = nullptr;
  QWidget* tsMsg = nullptr;
  QWidget* tsData = nullptr;
  QSplitter* splSetting = nullptr;

  QTabWidget* pcView = nullptr;
  QWidget* tsTable = nullptr;
  QGroupBox* gbTotalPlayer = nullptr;
  QTableView* lvMaps = nullptr;
  views::OwnerDataListModel* lvMapsModel = nullptr;
  QWidget* tsState = nullptr;
  QScrollArea* sbMapGrid = nullptr;
  views::StateGrid* sgMap = nullptr;
  QTabWidget* pcStateSide = nullptr;
  QWidget* tsStateMsg = nullptr;
  QPlainTextEdit* mmMapMsg = nullptr;
  QWidget* pnlMapLogLights = nullptr;
  QWidget* tsStateInfo = nullptr;
  views::StateLegend* lgMapState = nullptr;

  QTabWidget* pcSetting = nullptr;
  QWidget* tsSettingPage = nullptr;
  QLabel* lblStartTime = nullptr;
  QLabel* lblServerVersion = nullptr;
  QLabel* lblScriptPath = nullptr;
  QLineEdit* edtScriptPath = nullptr;
  QPushButton* btnBrowseScriptPath = nullptr;
  QLabel* lblStatusServer = nullptr;
  QLineEdit* edtStatusServer = nullptr;
  QPushButton* btApply = nullptr;
  QCheckBox* cbOpenInCMDLine = nullptr;
  QCheckBox* cbDebugModule = nullptr;
  QCheckBox* cbForbiddenAutoRestart = nullptr;
  QWidget* tsPlayer = nullptr;
  QWidget* tsItem = nullptr;
  QWidget* tsFunc = nullptr;
  QLabel* lblFatalError = nullptr;
  QWidget* tsScriptRunner = nullptr;
  QGroupBox* gbScript = nullptr;
  QPlainTextEdit* mmScriptSample = nullptr;
  QPlainTextEdit* mmScript = nullptr;
  QPushButton* btRunScript = nullptr;
  QLabel* lblScriptResult = nullptr;
  QWidget* tsDebug = nullptr;
  QPushButton* btMiniOpenAll = nullptr;
  QPushButton* btMiniCloseAll = nullptr;
  QPushButton* btOutPutMsg = nullptr;
  QPushButton* btnTestEurekaLog = nullptr;

  QTableView* lvMapServerList = nullptr;
  views::OwnerDataListModel* lvMapServerListModel = nullptr;
  QTableView* lvMsgLeft = nullptr;
  QTableView* lvMsgRight = nullptr;

  QLabel* lblShareMemoryInitState = nullptr;
  QLabel* lblShareMemoryPlayerTotal = nullptr;
  QLabel* lblShareMemoryItemTotal = nullptr;

  QMenu* pmMaps = nullptr;
  QAction* niStartSelect = nullptr;
  QAction* niCloseMapServer = nullptr;
  QAction* niSpace = nullptr;
  QAction* niResetLogCount = nullptr;
  QAction* miBrindTopWnd = nullptr;
  QAction* niHideAll = nullptr;
  QAction* miStartRestartMap = nullptr;

  QTimer* ttTimer = nullptr;           // refresh, 1000 ms, enabled at the end of start-up
  QTimer* tmReconnectCheck = nullptr;  // reconnect check, 10000 ms, always enabled
  QTimer* tmProcessLauncher = nullptr;  // process launcher, 500 ms, off until launch control runs
  QTimer* tmRestartCheck = nullptr;     // restarts of exited map servers, 1000 ms
  QTimer* tmStatusScript = nullptr;  // the status script step, 50 ms, while the status link runs

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void CreateControls();
  void CreateBottomPanel();
  void CreateSettingPage();
  void CreateViewPages();
  void CreateLowerPages();
  void CreateMsgPage();
  void CreateDataPage();
  void CreatePopupMenu();
  void CreateTimers();
  void OpenBus();
  void OnBusMessage(const platform::BusMessage& message);

  // Commands (MainWindowCommands.cpp).
  void ConnectCommandControls();
  void OnCopyData(const platform::BusMessage& message);

  // Operating as a service (MainWindowService.cpp): the /metrics endpoint.
  void StartMetrics();
  void StopMetrics();
  // Monitoring views (MainWindowViews.cpp).
  void ConnectViewControls();
  void CreateLogLights();
  void UpdateLogLights();
  MapServerInfoManager& Maps() const;

  // Launching (MainWindowLaunch.cpp).
  void ConnectLaunchControls();
  void CreateLauncher(const QStringList& arguments);
  void SetServiceStarted() override;
  bool IsStartEnabled() override;
  void SetServerVersionText(const std::string& text) override;
  void SetCaption(const std::string& caption) override;
  void SetMapCount(int count) override;
  bool IsStartInCmdLineChecked() override;
  void ShowStatePage() override;
  void ProcessMessages() override;
  [[noreturn]] void EndProcess(int exitCode) override;

  // The status server link (MainWindowStatusLink.cpp).
  void ConnectStatusLinkControls();
  void StopStatusLinkOnClose();
  void ReleaseStatusLink();

  IConfig* m_Config = nullptr;
  std::string m_ConfigFilePath;
  std::string m_MapDataDir;
  std::unique_ptr<CPySysGameData> m_SysGameData;
  app::InstanceSegment m_InstanceSegment;
  int m_SelectedCell = -1;
  bool m_GameDataLoaded = false;
  bool m_Destroyed = false;
  bool m_Closed = false;
  bool m_Closing = false;
  bool m_CloseWithoutQuestion = false;
  std::unique_ptr<IServiceHooks> m_ServiceHooks;
  std::unique_ptr<MapServerLauncher> m_Launcher;
  std::unique_ptr<IManagerFigures> m_ManagerFigures;
  std::unique_ptr<MetricsServer> m_Metrics;
  std::unique_ptr<OperatorCommands> m_Commands;
  std::unique_ptr<IStatusLinkView> m_StatusLinkView;
  std::unique_ptr<StatusLinkControl> m_StatusLink;
  std::unique_ptr<views::LogLights> m_LogLights;

  std::unique_ptr<platform::BusEndpoint> m_Bus;
  QSocketNotifier* m_BusNotifier = nullptr;
};
