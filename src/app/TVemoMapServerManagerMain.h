// The manager's main window. A view over the manager (app::MapServerManager): FormCreate
// runs start-up (app::ManagerStartup) and then the window's own steps, closing asks and
// shuts down, WndMethod receives the window messages of the message bus, and the timers
// and controls call one-line handlers that tests can call too. Its controls are private
// (app::MainWindowLayout); tests find them by their object names.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <memory>
#include <string>

#include "app/ManagerStartup.h"
#include "launch/ILaunchWindow.h"
#include "platform/message_bus.h"

class IConfig;
class IStatusLinkView;
class MapServerInfoManager;
class MapServerLauncher;
class QPainter;
class QSocketNotifier;

namespace app {
class MainWindowLayout;
class MapServerManager;
}  // namespace app

namespace views {
class LogLights;
}  // namespace views

class TVemoMapServerManagerMain : public QMainWindow, private ILaunchWindow {
  Q_OBJECT

 public:
  using StartupOutcome = app::StartupOutcome;

  explicit TVemoMapServerManagerMain(QWidget* parent = nullptr);
  ~TVemoMapServerManagerMain() override;

  // The start-up sequence. `arguments` are the command-line arguments without the
  // program name (the crash-reporting query among them is answered by the program's entry).
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
  // The status server link (MainWindowStatusLink.cpp).
  void btnStartStatusServerClick();
  void btnStopStatusServerClick();
  // The monitoring views (MainWindowViews.cpp): rows of both list views, one grid cell,
  // clicks on the grid, and the log lights of the selected cell.
  QString lvMapsData(int row, int column) const;
  QString lvMapServerListData(int row, int column) const;
  void sgMapDrawCell(int col, int row, QPainter& painter, const QRect& rect);
  void sgMapClick();
  void sgMapDblClick();
  views::LogLights* LogLightsStrip() const { return m_LogLights.get(); }

  // The manager behind the window.
  app::MapServerManager& Manager() const { return *m_Manager; }
  // The launcher; null until start-up has set the map data directory.
  MapServerLauncher* Launcher() const;
  // The window's bus handle (0 when the bus could not be opened).
  platform::WindowHandle Handle() const;
  IConfig* Config() const;
  const std::string& MapDataDir() const;
  int ServerVersion() const;
  int SelectedCell() const { return m_SelectedCell; }
  bool StartAllRequested() const;
  // True once the window has begun to close.
  bool IsClosing() override { return m_Closing; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void OpenBus();
  void OnBusMessage(const platform::BusMessage& message);
  // The steps of start-up that set the window's own controls and timers.
  void ShowStartedUp();

  // Each file's handlers meet their controls here.
  void ConnectLaunchControls();
  void ConnectCommandControls();
  void ConnectStatusLinkControls();
  void ConnectViewControls();
  // The status link's view over its controls (MainWindowStatusLink.cpp).
  std::unique_ptr<IStatusLinkView> NewStatusLinkView();

  // Commands (MainWindowCommands.cpp): the selected row of the map list view, -1 when none.
  int SelectedMapPosition() const;
  void OnCopyData(const platform::BusMessage& message);
  // Monitoring views (MainWindowViews.cpp).
  void CreateLogLights();
  void UpdateLogLights();
  MapServerInfoManager& Maps() const;

  // "Start" enabled before the service is started; "StartStatusServer", "StartAll",
  // "KillAll", "CloseAll" and "SaveApply" after.
  void EnableServiceButtons(bool started);
  // The launcher's view of the window (MainWindowLaunch.cpp).
  void SetServiceStarted() override;
  bool IsStartEnabled() override;
  void SetServerVersionText(const std::string& text) override;
  void SetCaption(const std::string& caption) override;
  void SetMapCount(int count) override;
  bool IsStartInCmdLineChecked() override;
  void ShowStatePage() override;
  void ProcessMessages() override;
  [[noreturn]] void EndProcess(int exitCode) override;

  // The controls (MainWindowLayout.cpp), then the manager, whose status link view uses them.
  std::unique_ptr<app::MainWindowLayout> m_Ui;
  std::unique_ptr<app::MapServerManager> m_Manager;
  std::unique_ptr<views::LogLights> m_LogLights;
  int m_SelectedCell = -1;
  bool m_Destroyed = false;
  bool m_Closed = false;
  bool m_Closing = false;
  bool m_CloseWithoutQuestion = false;

  std::unique_ptr<platform::BusEndpoint> m_Bus;
  QSocketNotifier* m_BusNotifier = nullptr;
};
