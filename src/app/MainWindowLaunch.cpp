// The main window's side of launching and supervision: its buttons and the reconnect-check
// timer call the launcher, and the window answers the launcher through ILaunchWindow.
#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/MainWindowLayout.h"
#include "app/TVemoMapServerManagerMain.h"
#include "components/LogComponent.h"
#include "launch/MapServerLauncher.h"
#include "platform/process.h"
#include "views/OwnerDataListModel.h"

void TVemoMapServerManagerMain::ConnectLaunchControls() {
  connect(m_Ui->btnStart, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btnStartClick);
  connect(m_Ui->btOpenAll, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btOpenAllClick);
  connect(m_Ui->btForceCloseAll, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btForceCloseAllClick);
  connect(m_Ui->btKillAll, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btKillAllClick);
  connect(m_Ui->btMiniOpenAll, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btMiniOpenAllClick);
  connect(m_Ui->btMiniCloseAll, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btMiniCloseAllClick);
  connect(m_Ui->tmReconnectCheck, &QTimer::timeout, this, &TVemoMapServerManagerMain::tmReconnectCheckTimer);
  // The restart of map servers that ended by themselves, when "RestartExitedMaps" is set.
  connect(m_Ui->tmRestartCheck, &QTimer::timeout, this, [this] {
    MapServerLauncher* launcher = Launcher();
    if (launcher == nullptr) return;
    launcher->ReapEndedServers();
    launcher->SuperviseExits();
  });
  m_Ui->tmRestartCheck->start();
  // An ended map server is reaped as soon as it ends, whatever the configuration.
  if (const int watch = platform::ChildEndWatchFd(); watch >= 0) {
    auto* childEnds = new QSocketNotifier(watch, QSocketNotifier::Read, this);
    connect(childEnds, &QSocketNotifier::activated, this, [this] {
      if (MapServerLauncher* launcher = Launcher()) launcher->ReapEndedServers();
    });
  }
}

int TVemoMapServerManagerMain::ServerVersion() const { return Launcher() ? Launcher()->GetServerVersion() : 0; }

bool TVemoMapServerManagerMain::StartAllRequested() const {
  return Launcher() ? Launcher()->StartAllRequested() : false;
}

void TVemoMapServerManagerMain::btnStartClick() {
  if (MapServerLauncher* launcher = Launcher()) launcher->StartService();
}

void TVemoMapServerManagerMain::btOpenAllClick() {
  if (MapServerLauncher* launcher = Launcher()) launcher->StartAllClick();
}

void TVemoMapServerManagerMain::btForceCloseAllClick() {
  if (MapServerLauncher* launcher = Launcher()) launcher->CloseAllServers();
}

void TVemoMapServerManagerMain::btKillAllClick() {
  if (MapServerLauncher* launcher = Launcher()) launcher->KillAllServers();
}

void TVemoMapServerManagerMain::btMiniOpenAllClick() {
  if (MapServerLauncher* launcher = Launcher()) launcher->MiniOpenAll();
}

void TVemoMapServerManagerMain::btMiniCloseAllClick() {
  if (MapServerLauncher* launcher = Launcher()) launcher->MiniCloseAll();
}

void TVemoMapServerManagerMain::tmReconnectCheckTimer() {
  if (MapServerLauncher* launcher = Launcher()) launcher->ProcessDisconnectCheck();
}

void TVemoMapServerManagerMain::SetServiceStarted() { EnableServiceButtons(true); }

void TVemoMapServerManagerMain::EnableServiceButtons(bool started) {
  m_Ui->btnStart->setEnabled(!started);
  for (QPushButton* button :
       {m_Ui->btnStartStatusServer, m_Ui->btOpenAll, m_Ui->btKillAll, m_Ui->btForceCloseAll, m_Ui->btApply})
    button->setEnabled(started);
}

bool TVemoMapServerManagerMain::IsStartEnabled() { return m_Ui->btnStart->isEnabled(); }

void TVemoMapServerManagerMain::SetServerVersionText(const std::string& text) {
  m_Ui->lblServerVersion->setText(QString::fromStdString(text));
}

void TVemoMapServerManagerMain::SetCaption(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
}

void TVemoMapServerManagerMain::SetMapCount(int count) {
  m_Ui->lvMapsModel->SetItemCount(count);
  m_Ui->lvMapServerListModel->SetItemCount(count);
}

bool TVemoMapServerManagerMain::IsStartInCmdLineChecked() { return m_Ui->cbOpenInCMDLine->isChecked(); }

void TVemoMapServerManagerMain::ShowStatePage() { m_Ui->pcView->setCurrentWidget(m_Ui->tsState); }

void TVemoMapServerManagerMain::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TVemoMapServerManagerMain::EndProcess(int exitCode) { platform::EndProcess(exitCode); }
