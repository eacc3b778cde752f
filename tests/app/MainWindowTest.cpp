// The main window in this process, on Qt's offscreen platform: its outline, what start-up
// puts into it, the close question, the window messages of the bus, and pictures of
// every page.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "ManagerMachine.h"
#include "WindowControls.h"
#include "app/ManagerConfig.h"
#include "app/TVemoMapServerManagerMain.h"
#include "interfaces/IConfig.h"
#include "interfaces/IGameData.h"
#include "launch/MapServerLauncher.h"
#include "platform/crash_report.h"
#include "platform/dialogs.h"
#include "platform/message_bus.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "registry/MapServerInfoManager.h"
#include "registry/RecordAccess.h"
#include "runtime/ThreadManager.h"
#include "support/OffscreenApplication.h"
#include "support/RecordingLog.h"
#include "views/OwnerDataListModel.h"

namespace {

using Window = TVemoMapServerManagerMain;

QStringList TabTexts(const QTabWidget* tabs) {
  QStringList out;
  for (int i = 0; i < tabs->count(); ++i) out << tabs->tabText(i);
  return out;
}

QStringList HeaderTexts(const QTableView* view) {
  QStringList out;
  for (int i = 0; i < view->model()->columnCount(); ++i) out << view->model()->headerData(i, Qt::Horizontal).toString();
  return out;
}

class MainWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    EnsureOffscreenApplication();
    platform::InstallCrashReporting(QDir::tempPath().toStdString() + "/");
  }

  void SetUp() override {
    unsetenv("VEMO_UNATTENDED");
    setenv("VEMO_LOG_DIR", m_Machine.LogDir().c_str(), 1);
    setenv("VEMO_PELLWYN_SHARE_NAME", m_Machine.ShareName().c_str(), 1);
    platform::SetExeDirForTesting(m_Machine.Dir());
    platform::SetDialogs(&m_Dialogs);
    m_Sign = "VemoAppWindowTest_" + std::to_string(getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  void TearDown() override {
    m_Window.reset();
    platform::SetDialogs(nullptr);
    platform::SetExeDirForTesting("");
    unsetenv("VEMO_LOG_DIR");
    unsetenv("VEMO_PELLWYN_SHARE_NAME");
  }

  // Writes the machine's configuration (always with this test's own sign) and starts up.
  Window::StartupOutcome StartWith(const std::string& keys = "") {
    m_Machine.WriteIni("[MapManager]\nedtMutexSign=" + m_Sign + "\n" + keys);
    m_Window = std::make_unique<Window>();
    return m_Window->FormCreate({});
  }

  ManagerMachine m_Machine;
  RecordingLog m_Log;
  platform::ScriptedDialogs m_Dialogs;
  std::string m_Sign;
  std::unique_ptr<Window> m_Window;
};

TEST_F(MainWindowTest, OutlineHasThePagesViewsMenuAndTimers) {
  Window window;
  EXPECT_EQ(window.windowTitle(), QString::fromUtf8("地图服务器管理器, 数目:%d"));
  EXPECT_EQ(window.size(), QSize(899, 541));
  EXPECT_EQ(window.font().pixelSize(), 12);
  EXPECT_TRUE(QFontMetrics(window.font()).inFont(QChar(0x5730)))
      << "the window's font must render Han texts; it resolved to " << QFontInfo(window.font()).family().toStdString();
  EXPECT_EQ(TabTexts(Control<QTabWidget>(window, "pcMain")), QStringList({"Setting", "Msg", "Data"}));
  EXPECT_EQ(TabTexts(Control<QTabWidget>(window, "pcView")), QStringList({"Table", "State"}));
  EXPECT_EQ(TabTexts(Control<QTabWidget>(window, "pcStateSide")), QStringList({"Msg", "Info"}));
  EXPECT_EQ(TabTexts(Control<QTabWidget>(window, "pcSetting")),
            QStringList({"Setting", "Player", "Item", "Func", "ScriptRunner(AllMap)", "Debug"}));

  const QStringList mapColumns = HeaderTexts(Control<QTableView>(window, "lvMaps"));
  ASSERT_EQ(mapColumns.size(), 20);
  EXPECT_EQ(mapColumns.front(), "Active");
  EXPECT_EQ(mapColumns.at(14), "Commited Memory(MB)");
  EXPECT_EQ(mapColumns.back(), "MapManagerNo");
  EXPECT_EQ(HeaderTexts(Control<QTableView>(window, "lvMapServerList")),
            QStringList({"Name", "ID", QString::fromUtf8("状态"), QString::fromUtf8("在线人数"),
                         QString::fromUtf8("当前物品总数"), "FPS", "PID"}));

  QStringList menu;
  for (const QAction* action : Control<QMenu>(window, "pmMaps")->actions())
    menu << (action->isSeparator() ? QString("-") : action->text());
  EXPECT_EQ(menu, QStringList({"Start/RestartThis", "CloseThis", "Space", "ResetLogCount", "-", "Show", "Minimize", "-",
                               "Start/Restart Map"}));

  EXPECT_TRUE(Control<QPushButton>(window, "btOpenAll")->isDefault());
  EXPECT_TRUE(Control<QPushButton>(window, "btnStopStatusServer")->isHidden());
  EXPECT_TRUE(Control<QCheckBox>(window, "cbOpenInCMDLine")->isChecked());
  EXPECT_EQ(Control<QLineEdit>(window, "edtStatusServer")->text(), "StatusServer");
  EXPECT_EQ(Control<QTimer>(window, "ttTimer")->interval(), 1000);
  EXPECT_FALSE(Control<QTimer>(window, "ttTimer")->isActive()) << "the refresh timer waits for the end of start-up";
  EXPECT_EQ(Control<QTimer>(window, "tmReconnectCheck")->interval(), 10000);
  EXPECT_TRUE(Control<QTimer>(window, "tmReconnectCheck")->isActive());
  EXPECT_EQ(Control<QTimer>(window, "tmProcessLauncher")->interval(), 500);
  EXPECT_FALSE(Control<QTimer>(window, "tmProcessLauncher")->isActive());
  EXPECT_NE(window.Handle(), 0u);
}

TEST_F(MainWindowTest, StartUpReadsTheConfigurationButLeavesTheDebugBoxClear) {
  const auto outcome = StartWith("cbDebugModule=1\ncbOpenInCMDLine=0\nedtScriptPath=/srv/scripts/\n");
  ASSERT_EQ(outcome.kind, Window::StartupOutcome::Kind::Running);
  Window& window = *m_Window;

  EXPECT_FALSE(Control<QCheckBox>(window, "cbDebugModule")->isChecked());
  EXPECT_TRUE(window.Config()->GetBool("cbDebugModule", false)) << "launches still use the file's value";
  EXPECT_FALSE(Control<QCheckBox>(window, "cbOpenInCMDLine")->isChecked());
  EXPECT_EQ(Control<QLineEdit>(window, "edtScriptPath")->text(), "/srv/scripts/");
  EXPECT_EQ(window.MapDataDir(), m_Machine.Dir() + "MapServerData/");
  EXPECT_EQ(window.ServerVersion(), 0);
  EXPECT_EQ(window.SelectedCell(), -1);
  EXPECT_FALSE(window.StartAllRequested());

  EXPECT_TRUE(Control<QPushButton>(window, "btnStart")->isEnabled());
  for (QPushButton* button : {Control<QPushButton>(window, "btnStartStatusServer"),
                              Control<QPushButton>(window, "btOpenAll"), Control<QPushButton>(window, "btKillAll"),
                              Control<QPushButton>(window, "btForceCloseAll"), Control<QPushButton>(window, "btApply")})
    EXPECT_FALSE(button->isEnabled()) << button->text().toStdString();
  EXPECT_EQ(Control<QTabWidget>(window, "pcMain")->currentIndex(), 0);
  EXPECT_EQ(Control<QTabWidget>(window, "pcView")->currentIndex(), 0);
  EXPECT_EQ(Control<QTabWidget>(window, "pcSetting")->currentIndex(), 0);
  EXPECT_TRUE(Control<QTimer>(window, "ttTimer")->isActive());

  // The caption changes with the first refresh only.
  EXPECT_EQ(window.windowTitle(), QString::fromUtf8("地图服务器管理器, 数目:%d"));
  window.ttTimerTimer();
  EXPECT_EQ(window.windowTitle(), "MapServerManager");
  EXPECT_NE(platform::FindWindow("TVemoMapServerManagerMain", "MapServerManager"), 0u);
}

TEST_F(MainWindowTest, ClosingAsksAndCancelKeepsTheWindowOpen) {
  ASSERT_EQ(StartWith().kind, Window::StartupOutcome::Kind::Running);
  m_Window->show();
  m_Dialogs.answers = {false};
  EXPECT_FALSE(m_Window->close());
  EXPECT_TRUE(m_Window->isVisible());
  ASSERT_FALSE(m_Dialogs.records.empty());
  EXPECT_EQ(m_Dialogs.records.back().kind, "Ask");
  EXPECT_EQ(m_Dialogs.records.back().text, "CloseProc?");
  EXPECT_EQ(m_Dialogs.records.back().caption, "CloseAsk");

  m_Dialogs.answers = {true};
  EXPECT_TRUE(m_Window->close());
  EXPECT_FALSE(m_Window->isVisible());
  EXPECT_FALSE(Control<QTimer>(*m_Window, "ttTimer")->isActive());
}

// A worker that rests between calls and counts them.
int CountingWork(void* userData, int) {
  static_cast<std::atomic<int>*>(userData)->fetch_add(1);
  return 5;
}

TEST_F(MainWindowTest, ClosingStopsTheWorkersOnlyOnceTheOperatorAgrees) {
  ASSERT_EQ(StartWith().kind, Window::StartupOutcome::Kind::Running);
  m_Window->show();
  ThreadManager* threads = ThreadManager::GetInstance();
  static std::atomic<int> calls{0};
  threads->AddThread("AppTestWorker", &CountingWork, &calls, false);
  threads->StartAll();
  ASSERT_TRUE(PumpUntil([&] { return calls.load() > 0; }));

  m_Dialogs.answers = {false};
  EXPECT_FALSE(m_Window->close());
  EXPECT_TRUE(threads->IsRunning()) << "Cancel changes nothing";
  EXPECT_EQ(threads->GetThreadCount(), 1);

  m_Dialogs.answers = {true};
  EXPECT_TRUE(m_Window->close());
  EXPECT_FALSE(threads->IsRunning());
  EXPECT_EQ(threads->GetThreadCount(), 0);
  const int after = calls.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(calls.load(), after) << "no worker runs once the window has closed";
  threads->StopAll();  // leaves no worker behind for the next test when this one failed
}

TEST_F(MainWindowTest, BusMessagesReachWndMethodAndShowRequestsTheWindow) {
  ASSERT_EQ(StartWith().kind, Window::StartupOutcome::Kind::Running);
  const platform::WindowHandle handle = m_Window->Handle();
  ASSERT_NE(handle, 0u);

  ASSERT_TRUE(platform::PostMessage(handle, WM_MAPMANAGER_LOAD_SHAREDATA, 0, 0));
  const std::string loadLine =
      "TFrmMain::WndMethod WM_MAPMANAGER_LOAD_SHAREDATA, GetSysTableShareData()->LoadShareData()";
  EXPECT_TRUE(PumpUntil([&] { return m_Log.Contains(loadLine); }));
  ASSERT_FALSE(m_Log.Texts(llDebug).empty());

  // A second manager with the same sign shows and raises this window.
  EXPECT_FALSE(m_Window->isVisible());
  ASSERT_TRUE(platform::ShowWindow(handle));
  ASSERT_TRUE(platform::SetForegroundWindow(handle));
  EXPECT_TRUE(PumpUntil([&] { return m_Window->isVisible(); }));

  // Copy data reaches the commands (103 names the controller), and malformed or unknown
  // traffic changes nothing.
  const char text[] = "a|b";
  ASSERT_TRUE(platform::SendCopyData(handle, 103, text, 3));
  EXPECT_TRUE(PumpUntil([&] { return m_Window->Launcher()->ControllerClass() == "a"; }));
  ASSERT_TRUE(platform::PostMessage(handle, 99999, 1, 2));
  QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_TRUE(m_Window->isVisible());
}

TEST_F(MainWindowTest, SaveApplyReadsTheFileAgainAndReloadsTheMapList) {
  // Map names of this test only: every map opens a shared record named after it.
  const std::string server = "AppTestMap" + std::to_string(getpid());
  std::ofstream(m_Machine.Dir() + "MapServerData/Map/MapID.txt") << "1 " << server << " One 1 1 100 0 0 1\n"
                                                                 << "2 " << server << " Two 2 1 100 0 0 2\n"
                                                                 << "3 " << server << " Three 3 1 100 0 0 1\n";
  ASSERT_EQ(StartWith("edtMapManagerNum=1\n").kind, Window::StartupOutcome::Kind::Running);
  EXPECT_EQ(ListModel(*m_Window, "lvMaps")->ItemCount(), 0) << "the map list is loaded by Start or SaveApply";

  m_Window->btApplyClick();
  EXPECT_EQ(ListModel(*m_Window, "lvMaps")->ItemCount(), 2);
  EXPECT_EQ(ListModel(*m_Window, "lvMapServerList")->ItemCount(), 2);

  // An operator's edit of the file takes effect with the next SaveApply.
  m_Machine.WriteIni("[MapManager]\nedtMutexSign=" + m_Sign + "\nedtMapManagerNum=0\n");
  m_Window->btApplyClick();
  EXPECT_EQ(ListModel(*m_Window, "lvMaps")->ItemCount(), 3);
  EXPECT_EQ(ListModel(*m_Window, "lvMapServerList")->ItemCount(), 3);
}

TEST_F(MainWindowTest, StartAndStartAllRunTheMapsAndClosingTheWindowLeavesThemRunning) {
  const std::string server = "AppLaunchMap" + std::to_string(getpid());
  std::ofstream(m_Machine.Dir() + "MapServerData/Map/MapID.txt") << "1 " << server << " One 1 1 100 0 0 1\n"
                                                                 << "2 " << server << " Two 2 1 100 0 0 1\n";
  setenv("VEMO_MS_PHASE_MS", "0", 1);
  ASSERT_EQ(StartWith().kind, Window::StartupOutcome::Kind::Running);
  EXPECT_FALSE(Control<QPushButton>(*m_Window, "btOpenAll")->isEnabled());

  Control<QPushButton>(*m_Window, "btnStart")->click();
  EXPECT_FALSE(Control<QPushButton>(*m_Window, "btnStart")->isEnabled());
  for (QPushButton* button :
       {Control<QPushButton>(*m_Window, "btnStartStatusServer"), Control<QPushButton>(*m_Window, "btOpenAll"),
        Control<QPushButton>(*m_Window, "btKillAll"), Control<QPushButton>(*m_Window, "btForceCloseAll"),
        Control<QPushButton>(*m_Window, "btApply")})
    EXPECT_TRUE(button->isEnabled()) << button->text().toStdString();
  EXPECT_EQ(m_Window->windowTitle(), "MapServerManager");
  EXPECT_EQ(ListModel(*m_Window, "lvMaps")->ItemCount(), 2);

  m_Dialogs.answers = {true};
  Control<QPushButton>(*m_Window, "btOpenAll")->click();
  EXPECT_EQ(Control<QTabWidget>(*m_Window, "pcView")->currentWidget(), Control<QWidget>(*m_Window, "tsState"));
  MapServerInfoManager& maps = GetMapServerInfoManager();
  std::vector<uint32_t> pids;
  for (int i = 0; i < 2; ++i) {
    tagMapServerData* data = maps.GetMapInfo(i)->GetShareData();
    ASSERT_TRUE(PumpUntil([&] { return record::State(*data) == msRunning; })) << i;
    pids.push_back(record::ProcessId(*data));
  }

  m_Dialogs.answers = {true};
  EXPECT_TRUE(m_Window->close());
  for (uint32_t pid : pids) EXPECT_TRUE(platform::IsProcessAlive(pid)) << "a map server ended with the window";
  for (uint32_t pid : pids) {
    const int handle = platform::OpenProcessHandle(pid);
    platform::TerminateProcess(handle, -1);
    platform::WaitForProcess(handle, 5000, nullptr);
    platform::CloseProcessHandle(handle);
  }
  unsetenv("VEMO_MS_PHASE_MS");
}

TEST_F(MainWindowTest, LaunchControlStepAndTheDebugModuleBox) {
  // No "Halvix.dll" in the current directory: start-up goes on, the timer never runs.
  ASSERT_EQ(StartWith().kind, Window::StartupOutcome::Kind::Running);
  auto launchWarnings = [&] {
    const std::vector<std::string> warnings = m_Log.Texts(llWarn);
    return std::count(warnings.begin(), warnings.end(), "LaunchDLL Init Fail!!");
  };
  EXPECT_EQ(launchWarnings(), 1);
  EXPECT_FALSE(Control<QTimer>(*m_Window, "tmProcessLauncher")->isActive());

  // The box acts when the mouse button is released over it: Cancel clears it again.
  m_Window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(m_Window.get()));
  const QPoint onBox(6, Control<QCheckBox>(*m_Window, "cbDebugModule")->height() / 2);  // the indicator
  QTest::mouseClick(Control<QCheckBox>(*m_Window, "cbDebugModule"), Qt::LeftButton, {}, onBox);
  ASSERT_EQ(m_Dialogs.records.size(), 1u);
  EXPECT_EQ(m_Dialogs.records[0].text, "It Will Open Debug Module, Are You Sure?");
  EXPECT_FALSE(Control<QCheckBox>(*m_Window, "cbDebugModule")->isChecked());
  EXPECT_FALSE(m_Window->Config()->GetBool("cbDebugModule", true));
  m_Dialogs.answers.push_back(true);
  QTest::mouseClick(Control<QCheckBox>(*m_Window, "cbDebugModule"), Qt::LeftButton, {}, onBox);
  EXPECT_TRUE(Control<QCheckBox>(*m_Window, "cbDebugModule")->isChecked());
  EXPECT_TRUE(m_Window->Config()->GetBool("cbDebugModule", false));

  // Started from the runnable tree, the component runs and the window polls it.
  m_Window.reset();
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(VEMO_BIN_DIR), 0);
  m_Log.Clear();
  const auto outcome = StartWith().kind;
  ASSERT_EQ(chdir(cwd), 0);
  ASSERT_EQ(outcome, Window::StartupOutcome::Kind::Running);
  EXPECT_EQ(launchWarnings(), 0);
  EXPECT_TRUE(Control<QTimer>(*m_Window, "tmProcessLauncher")->isActive());
  EXPECT_EQ(Control<QTimer>(*m_Window, "tmProcessLauncher")->interval(), 500);
}

}  // namespace
