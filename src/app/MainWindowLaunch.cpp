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

#include "app/ServiceHooks.h"
#include "app/TVemoMapServerManagerMain.h"
#include "components/LogComponent.h"
#include "launch/MapServerLauncher.h"
#include "platform/process.h"
#include "views/OwnerDataListModel.h"

void TVemoMapServerManagerMain::ConnectLaunchControls() {
  connect(btnStart, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btnStartClick);
  connect(btOpenAll, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btOpenAllClick);
  connect(btForceCloseAll, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btForceCloseAllClick);
  connect(btKillAll, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btKillAllClick);
  connect(btMiniOpenAll, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btMiniOpenAllClick);
  connect(btMiniCloseAll, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btMiniCloseAllClick);
  connect(tmReconnectCheck, &QTimer::timeout, this, &TVemoMapServerManagerMain::tmReconnectCheckTimer);
  // The restart of map servers that ended by themselves, when "RestartExitedMaps" is set.
  tmRestartCheck = new QTimer(this);
  tmRestartCheck->setObjectName("tmRestartCheck");
  tmRestartCheck->setInterval(1000);
  connect(tmRestartCheck, &QTimer::timeout, this, [this] {
    if (!m_Launcher) return;
    m_Launcher->ReapEndedServers();
    m_Launcher->SuperviseExits();
  });
  tmRestartCheck->start();
  // An ended map server is reaped as soon as it ends, whatever the configuration.
  if (const int watch = platform::ChildEndWatchFd(); watch >= 0) {
    auto* childEnds = new QSocketNotifier(watch, QSocketNotifier::Read, this);
    connect(childEnds, &QSocketNotifier::activated, this, [this] {
      if (m_Launcher) m_Launcher->ReapEndedServers();
    });
  }
}

void TVemoMapServerManagerMain::CreateLauncher(const QStringList& arguments) {
  if (!m_ServiceHooks) m_ServiceHooks = std::make_unique<app::ServiceHooks>(this);
  MapServerLauncher::Settings settings;
  settings.Config = m_Config;
  settings.Window = this;
  settings.Hooks = m_ServiceHooks.get();
  settings.MapDataDir = m_MapDataDir;
  for (const QString& argument : arguments) settings.Arguments.push_back(argument.toStdString());
  m_Launcher = std::make_unique<MapServerLauncher>(settings);
}

int TVemoMapServerManagerMain::ServerVersion() const { return m_Launcher ? m_Launcher->GetServerVersion() : 0; }

bool TVemoMapServerManagerMain::StartAllRequested() const {
  return m_Launcher ? m_Launcher->StartAllRequested() : false;
}

void TVemoMapServerManagerMain::btnStartClick() {
  if (m_Launcher) m_Launcher->StartService();
}

void TVemoMapServerManagerMain::btOpenAllClick() {
  if (m_Launcher) m_Launcher->StartAllClick();
}

void TVemoMapServerManagerMain::btForceCloseAllClick() {
  if (m_Launcher) m_Launcher->CloseAllServers();
}

void TVemoMapServerManagerMain::btKillAllClick() {
  if (m_Launcher) m_Launcher->KillAllServers();
}

void TVemoMapServerManagerMain::btMiniOpenAllClick() {
  if (m_Launcher) m_Launcher->MiniOpenAll();
}

void TVemoMapServerManagerMain::btMiniCloseAllClick() {
  if (m_Launcher) m_Launcher->MiniCloseAll();
}

void TVemoMapServerManagerMain::tmReconnectCheckTimer() {
  if (m_Launcher) m_Launcher->ProcessDisconnectCheck();
}

void TVemoMapServerManagerMain::SetServiceStarted() {
  btnStart->setEnabled(false);
  btnStartStatusServer->setEnabled(true);
  btOpenAll->setEnabled(true);
  btKillAll->setEnabled(true);
  btForceCloseAll->setEnabled(true);
  btApply->setEnabled(true);
}

bool TVemoMapServerManagerMain::IsStartEnabled() { return btnStart->isEnabled(); }

void TVemoMapServerManagerMain::SetServerVersionText(const std::string& text) {
  lblServerVersion->setText(QString::fromStdString(text));
}

void TVemoMapServerManagerMain::SetCaption(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
}

void TVemoMapServerManagerMain::SetMapCount(int count) {
  lvMapsModel->SetItemCount(count);
  lvMapServerListModel->SetItemCount(count);
}

bool TVemoMapServerManagerMain::IsStartInCmdLineChecked() { return cbOpenInCMDLine->isChecked(); }

void TVemoMapServerManagerMain::ShowStatePage() { pcView->setCurrentWidget(tsState); }

void TVemoMapServerManagerMain::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TVemoMapServerManagerMain::EndProcess(int exitCode) { platform::EndProcess(exitCode); }
