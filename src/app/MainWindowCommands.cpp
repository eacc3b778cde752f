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

#include "app/MainWindowLayout.h"
#include "app/MapServerManager.h"
#include "app/TVemoMapServerManagerMain.h"
#include "commands/OperatorCommands.h"
#include "launch/LaunchControl.h"

void TVemoMapServerManagerMain::ConnectCommandControls() {
  connect(m_Ui->niStartSelect, &QAction::triggered, this, &TVemoMapServerManagerMain::niStartSelectClick);
  connect(m_Ui->niCloseMapServer, &QAction::triggered, this, &TVemoMapServerManagerMain::niCloseMapServerClick);
  connect(m_Ui->niResetLogCount, &QAction::triggered, this, &TVemoMapServerManagerMain::niResetLogCountClick);
  connect(m_Ui->miBrindTopWnd, &QAction::triggered, this, &TVemoMapServerManagerMain::miBrindTopWndClick);
  connect(m_Ui->niHideAll, &QAction::triggered, this, &TVemoMapServerManagerMain::niHideAllClick);
  connect(m_Ui->miStartRestartMap, &QAction::triggered, this, &TVemoMapServerManagerMain::miStartRestartMapClick);
  connect(m_Ui->btnBrowseScriptPath, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btnBrowseScriptPathClick);
  // A check box changes its state when the button is released over it (or by the
  // keyboard, which must not bypass the confirmation either).
  connect(m_Ui->cbDebugModule, &QCheckBox::clicked, this, &TVemoMapServerManagerMain::cbDebugModuleMouseUp);
  connect(m_Ui->btOutPutMsg, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btOutPutMsgClick);
  connect(m_Ui->btnTestEurekaLog, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btnTestEurekaLogClick);
  connect(m_Ui->btRunScript, &QPushButton::clicked, this, &TVemoMapServerManagerMain::btRunScriptClick);
  connect(m_Ui->tmProcessLauncher, &QTimer::timeout, this, &TVemoMapServerManagerMain::tmProcessLauncherTimer);
}

int TVemoMapServerManagerMain::SelectedMapPosition() const {
  const QModelIndexList selected = m_Ui->lvMaps->selectionModel()->selectedIndexes();
  return selected.isEmpty() ? -1 : selected.front().row();
}

void TVemoMapServerManagerMain::niStartSelectClick() {
  if (OperatorCommands* commands = m_Manager->Commands()) commands->StartSelected(SelectedMapPosition());
}

void TVemoMapServerManagerMain::niCloseMapServerClick() {
  if (OperatorCommands* commands = m_Manager->Commands()) commands->CloseSelected(SelectedMapPosition());
}

void TVemoMapServerManagerMain::niResetLogCountClick() {
  if (OperatorCommands* commands = m_Manager->Commands()) commands->ResetLogCountSelected(SelectedMapPosition());
}

void TVemoMapServerManagerMain::miBrindTopWndClick() {
  if (OperatorCommands* commands = m_Manager->Commands()) commands->BringToTop(SelectedMapPosition());
}

void TVemoMapServerManagerMain::niHideAllClick() {
  if (OperatorCommands* commands = m_Manager->Commands()) commands->MinimizeAll();
}

void TVemoMapServerManagerMain::miStartRestartMapClick() {
  if (OperatorCommands* commands = m_Manager->Commands()) commands->StartRestartMap();
}

void TVemoMapServerManagerMain::btnBrowseScriptPathClick() {
  OperatorCommands* commands = m_Manager->Commands();
  std::string path = m_Ui->edtScriptPath->text().toStdString();
  if (commands != nullptr && commands->BrowseScriptPath(path))
    m_Ui->edtScriptPath->setText(QString::fromStdString(path));
}

void TVemoMapServerManagerMain::cbDebugModuleMouseUp() {
  if (OperatorCommands* commands = m_Manager->Commands())
    m_Ui->cbDebugModule->setChecked(commands->DebugModuleReleased(m_Ui->cbDebugModule->isChecked()));
}

void TVemoMapServerManagerMain::btOutPutMsgClick() {
  if (OperatorCommands* commands = m_Manager->Commands()) commands->OutputMemory();
}

void TVemoMapServerManagerMain::btnTestEurekaLogClick() {
  if (OperatorCommands* commands = m_Manager->Commands()) commands->TestCrashReport();
}

void TVemoMapServerManagerMain::btRunScriptClick() {
  if (OperatorCommands* commands = m_Manager->Commands())
    commands->ExecuteScript(m_Ui->mmScript->toPlainText().toStdString());
}

void TVemoMapServerManagerMain::OnCopyData(const platform::BusMessage& message) {
  if (OperatorCommands* commands = m_Manager->Commands()) commands->HandleCopyData(message.Msg, message.Data);
}

void TVemoMapServerManagerMain::tmProcessLauncherTimer() {
  // The tick runs as a posted call, not inside the timer's own event: a stop that the
  // component asks for waits with the window answering, and Qt does not fire a timer again
  // while its event is being handled, so the component would not be polled meanwhile.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (!launchcontrol::ProcessLauncherTick()) m_Ui->tmProcessLauncher->stop();
      },
      Qt::QueuedConnection);
}
