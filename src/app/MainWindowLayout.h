// The main window's controls, as a form designer's generated class holds a form's widgets:
// SetupUi builds every page, list view, label, button, the pop-up menu of the map list view
// and the timers, gives each its object name (the control names of the window's outline)
// and keeps a pointer to it here. The window owns one privately; everything else finds a
// control by its object name.
#pragma once

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QTableView;
class QTimer;
class QWidget;

namespace views {
class OwnerDataListModel;
class StateGrid;
class StateLegend;
}  // namespace views

namespace app {

class MainWindowLayout {
 public:
  // Builds the controls into `window`, which owns them as Qt children.
  void SetupUi(QMainWindow* window);

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

  QTimer* ttTimer = nullptr;            // refresh, 1000 ms, enabled at the end of start-up
  QTimer* tmReconnectCheck = nullptr;   // reconnect check, 10000 ms, always enabled
  QTimer* tmProcessLauncher = nullptr;  // process launcher, 500 ms, off until launch control runs
  QTimer* tmRestartCheck = nullptr;     // restarts of exited map servers, 1000 ms
  QTimer* tmStatusScript = nullptr;     // the status script step, 50 ms, while the status link runs

 private:
  void CreateBottomPanel();
  void CreateSettingPage();
  void CreateViewPages();
  void CreateLowerPages();
  void CreateMsgPage();
  void CreateDataPage();
  void CreatePopupMenu();
  void CreateTimers();

  QMainWindow* m_Owner = nullptr;
};

}  // namespace app
