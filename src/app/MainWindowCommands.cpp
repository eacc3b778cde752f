// The main window's side of the operator's commands and of the window messages of other
// programs: the pop-up menu of the map list, "Browse...", the debug module box, the debug
// page, the script runner, the copy-data commands and the process-launcher timer. Each
// handler passes what its control holds to OperatorCommands or to the launch control.
#include <QAction>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include "app/TVemoMapServerManagerMain.h"
#include "commands/OperatorCommands.h"
#include "launch/LaunchControl.h"
#include "launch/MapServerLauncher.h"

void TVemoMapServerManagerMain::ConnectCommandControls() {
  connect(niStartSelect, &QAction::triggered, this, &TVemoMapServerManagerMain::niStartSelectClick);
  connect(niCloseMapServer, &QAction::triggered, this, &TVemoMapServerManagerMain::niCloseMapServerClick);
  connect(niResetLogCount, &QAction::triggered, this, &TVemoMapServerManagerMain::niResetLogCountClick);
  connect(miBrindTopWnd, &QAction::triggered, this, &TVemoMapServerManagerMain::miBrindTopWndClick);
  connect(niHideAll, &QAction::triggered, this, &TVemoMapServerManagerMain::niHideAllClick);
  connect(miStartRestartMap, &QAction::triggered, this, &TVemoMapServerManagerMain::miStartRestartMapClick);
  connect(btnBrowseScriptPath, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btnBrowseScriptPathClick);
  // A check box changes its state when the button is released over it (or by the
  // keyboard, which must not bypass the confirmation either).
  connect(cbDebugModule, &QCheckBox::clicked, this, &TVemoMapServerManagerMain::cbDebugModuleMouseUp);
  connect(btOutPutMsg, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btOutPutMsgClick);
  connect(btnTestEurekaLog, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btnTestEurekaLogClick);
  connect(btRunScript, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btRunScriptClick);
  connect(tmProcessLauncher, &QTimer::timeout, this, &TVemoMapServerManagerMain::tmProcessLauncherTimer);
}

OperatorCommands* TVemoMapServerManagerMain::Commands() {
  if (!m_Commands && m_Launcher && m_Config != nullptr)
    m_Commands = std::make_unique<OperatorCommands>(*m_Launcher, *m_Config, static_cast<ILaunchWindow&>(*this));
  return m_Commands.get();
}

int TVemoMapServerManagerMain::SelectedMapPosition() const {
  const QModelIndexList selected = lvMaps->selectionModel()->selectedIndexes();
  return selected.isEmpty() ? -1 : selected.front().row();
}

void TVemoMapServerManagerMain::niStartSelectClick() {
  if (OperatorCommands* commands = Commands()) commands->StartSelected(SelectedMapPosition());
}

void TVemoMapServerManagerMain::niCloseMapServerClick() {
  if (OperatorCommands* commands = Commands()) commands->CloseSelected(SelectedMapPosition());
}

void TVemoMapServerManagerMain::niResetLogCountClick() {
  if (OperatorCommands* commands = Commands()) commands->ResetLogCountSelected(SelectedMapPosition());
}

void TVemoMapServerManagerMain::miBrindTopWndClick() {
  if (OperatorCommands* commands = Commands()) commands->BringToTop(SelectedMapPosition());
}

void TVemoMapServerManagerMain::niHideAllClick() {
  if (OperatorCommands* commands = Commands()) commands->MinimizeAll();
}

void TVemoMapServerManagerMain::miStartRestartMapClick() {
  if (OperatorCommands* commands = Commands()) commands->StartRestartMap();
}

void TVemoMapServerManagerMain::btnBrowseScriptPathClick() {
  OperatorCommands* commands = Commands();
  std::string path = edtScriptPath->text().toStdString();
  if (commands != nullptr && commands->BrowseScriptPath(path)) edtScriptPath->setText(QString::fromStdString(path));
}

void TVemoMapServerManagerMain::cbDebugModuleMouseUp() {
  if (OperatorCommands* commands = Commands())
    cbDebugModule->setChecked(commands->DebugModuleReleased(cbDebugModule->isChecked()));
}

void TVemoMapServerManagerMain::btOutPutMsgClick() {
  if (OperatorCommands* commands = Commands()) commands->OutputMemory();
}

void TVemoMapServerManagerMain::btnTestEurekaLogClick() {
  if (OperatorCommands* commands = Commands()) commands->TestCrashReport();
}

void TVemoMapServerManagerMain::btRunScriptClick() {
  if (OperatorCommands* commands = Commands()) commands->ExecuteScript(mmScript->toPlainText().toStdString());
}

void TVemoMapServerManagerMain::OnCopyData(const platform::BusMessage& message) {
  if (OperatorCommands* commands = Commands()) commands->HandleCopyData(message.Msg, message.Data);
}

void TVemoMapServerManagerMain::tmProcessLauncherTimer() {
  // The tick runs as a posted call, not inside the timer's own event: a stop that the
  // component asks for waits with the window answering, and Qt does not fire a timer again
  // while its event is being handled, so the component would not be polled meanwhile.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (!launchcontrol::ProcessLauncherTick()) tmProcessLauncher->stop();
      },
      Qt::QueuedConnection);
}
