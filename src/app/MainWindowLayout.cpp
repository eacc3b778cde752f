// The main window's controls: pages, list views, the grid, memos, labels, edit boxes,
// check boxes, buttons, the pop-up menu of the map list view and the three timers.
#include <QAction>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "app/MainWindowLayout.h"

#include <QMainWindow>
#include "views/ListColumns.h"
#include "views/OwnerDataListModel.h"
#include "views/StateGrid.h"
#include "views/StateLegend.h"

namespace {

template <std::size_t N>
QStringList Captions(const std::array<const char*, N>& captions) {
  QStringList out;
  for (const char* caption : captions) out << QString::fromUtf8(caption);
  return out;
}

// A report-style list view: whole-row selection, no grid, no row numbers.
QTableView* NewListView(QWidget* parent) {
  auto* view = new QTableView(parent);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setShowGrid(false);
  view->setWordWrap(false);
  view->verticalHeader()->setVisible(false);
  view->verticalHeader()->setDefaultSectionSize(18);
  view->horizontalHeader()->setHighlightSections(false);
  view->horizontalHeader()->setStretchLastSection(true);
  return view;
}

// Each column as wide as its caption, so that every caption reads in full.
void FitColumnsToCaptions(QTableView* view) {
  QHeaderView* header = view->horizontalHeader();
  const QFontMetrics metrics(header->font());
  for (int column = 0; column < view->model()->columnCount(); ++column) {
    const QString caption = view->model()->headerData(column, Qt::Horizontal).toString();
    header->resizeSection(column, std::max(48, metrics.horizontalAdvance(caption) + 18));
  }
}

// The sample scripts that the operator copies into the script memo.
const char* const kScriptSamples[] = {
    "#-------------Save-------------------",
    "import Orlamb",
    "Orlamb.GetOrlamb().Save()",
    "",
    "#-------------Reload-------------------",
    "import IPY_Orlamb",
    "script = IPY_Orlamb.IPY_Script()",
    "script.RefreshScript()",
    "",
    "#-------------Apply Settings--------------",
    "import IPY_Orlamb",
    "script = IPY_Orlamb.IPY_Script()",
    "script.ApplySetting()",
    "",
    "#-------------Force Save Player Data--------------",
    "import Tessmark",
    "Tessmark.RunCMD('SavePlayer')",
    "",
    "#-------------Force Backup Player Data--------------",
    "import Tessmark",
    "Tessmark.RunCMD('SavePlayerBackupFile')",
};

}  // namespace

namespace app {

void MainWindowLayout::SetupUi(QMainWindow* window) {
  m_Owner = window;
  auto* client = new QWidget(m_Owner);
  auto* layout = new QVBoxLayout(client);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  pcMain = new QTabWidget(client);
  pcMain->setObjectName("pcMain");
  layout->addWidget(pcMain, 1);
  CreateSettingPage();
  CreateMsgPage();
  CreateDataPage();

  CreateBottomPanel();
  layout->addWidget(pnlBottom);
  m_Owner->setCentralWidget(client);

  sbStatus = new QStatusBar(m_Owner);
  sbStatus->setObjectName("sbStatus");
  sbStatus->setSizeGripEnabled(false);
  m_Owner->setStatusBar(sbStatus);

  CreatePopupMenu();
  CreateTimers();
}

void MainWindowLayout::CreateBottomPanel() {
  pnlBottom = new QWidget(m_Owner);
  pnlBottom->setObjectName("pnlBottom");
  auto* row = new QHBoxLayout(pnlBottom);
  row->setContentsMargins(6, 4, 6, 4);

  lblRunGateServer = new QLabel("Run VemoGateServer.exe When All MapServer LoadOK", pnlBottom);
  lblRunGateServer->setObjectName("lblRunGateServer");
  QPalette maroon = lblRunGateServer->palette();
  maroon.setColor(QPalette::WindowText, QColor(0x80, 0x00, 0x00));
  lblRunGateServer->setPalette(maroon);
  row->addWidget(lblRunGateServer);
  row->addStretch(1);

  auto button = [this, row](QPushButton*& target, const char* name, const char* caption) {
    target = new QPushButton(caption, pnlBottom);
    target->setObjectName(name);
    row->addWidget(target);
  };
  button(btnStart, "btnStart", "Start");
  button(btOpenAll, "btOpenAll", "StartAll");
  button(btForceCloseAll, "btForceCloseAll", "CloseAll");
  button(btKillAll, "btKillAll", "KillAll");
  button(btnStartStatusServer, "btnStartStatusServer", "StartStatusServer");
  button(btnStopStatusServer, "btnStopStatusServer", "StopStatusServer");
  btOpenAll->setDefault(true);
  btnStopStatusServer->setVisible(false);
}

void MainWindowLayout::CreateSettingPage() {
  tsSetting = new QWidget;
  tsSetting->setObjectName("tsSetting");
  pcMain->addTab(tsSetting, "Setting");
  auto* layout = new QVBoxLayout(tsSetting);
  layout->setContentsMargins(2, 2, 2, 2);

  splSetting = new QSplitter(Qt::Vertical, tsSetting);
  splSetting->setObjectName("splSetting");
  splSetting->setChildrenCollapsible(false);
  layout->addWidget(splSetting);

  pcView = new QTabWidget(splSetting);
  pcView->setObjectName("pcView");
  pcSetting = new QTabWidget(splSetting);
  pcSetting->setObjectName("pcSetting");
  splSetting->addWidget(pcView);
  splSetting->addWidget(pcSetting);
  splSetting->setStretchFactor(0, 3);
  splSetting->setStretchFactor(1, 2);
  splSetting->setSizes({260, 170});

  CreateViewPages();
  CreateLowerPages();
}

void MainWindowLayout::CreateViewPages() {
  // "Table": the map list view, one row per map.
  tsTable = new QWidget;
  tsTable->setObjectName("tsTable");
  pcView->addTab(tsTable, "Table");
  auto* tableLayout = new QVBoxLayout(tsTable);
  tableLayout->setContentsMargins(2, 2, 2, 2);
  gbTotalPlayer = new QGroupBox("TotalPlayer", tsTable);
  gbTotalPlayer->setObjectName("gbTotalPlayer");
  tableLayout->addWidget(gbTotalPlayer);
  auto* groupLayout = new QVBoxLayout(gbTotalPlayer);
  groupLayout->setContentsMargins(2, 2, 2, 2);
  lvMaps = NewListView(gbTotalPlayer);
  lvMaps->setObjectName("lvMaps");
  lvMapsModel = new views::OwnerDataListModel(Captions(views::kMapListColumns), m_Owner);
  lvMaps->setModel(lvMapsModel);
  FitColumnsToCaptions(lvMaps);
  lvMaps->setContextMenuPolicy(Qt::CustomContextMenu);
  groupLayout->addWidget(lvMaps);

  // "State": the state grid, and beside it the selected map's message and log lights
  // ("Msg") and the colour legend ("Info").
  tsState = new QWidget;
  tsState->setObjectName("tsState");
  pcView->addTab(tsState, "State");
  auto* stateLayout = new QHBoxLayout(tsState);
  stateLayout->setContentsMargins(2, 2, 2, 2);
  sbMapGrid = new QScrollArea(tsState);
  sbMapGrid->setObjectName("sbMapGrid");
  sgMap = new views::StateGrid;
  sgMap->setObjectName("sgMap");
  sbMapGrid->setWidget(sgMap);
  sbMapGrid->setWidgetResizable(false);
  sbMapGrid->setFixedWidth(sgMap->width() + 2 * sbMapGrid->frameWidth() + 18);
  stateLayout->addWidget(sbMapGrid);

  pcStateSide = new QTabWidget(tsState);
  pcStateSide->setObjectName("pcStateSide");
  stateLayout->addWidget(pcStateSide, 1);

  tsStateMsg = new QWidget;
  tsStateMsg->setObjectName("tsStateMsg");
  pcStateSide->addTab(tsStateMsg, "Msg");
  auto* msgLayout = new QVBoxLayout(tsStateMsg);
  msgLayout->setContentsMargins(2, 2, 2, 2);
  mmMapMsg = new QPlainTextEdit(tsStateMsg);
  mmMapMsg->setObjectName("mmMapMsg");
  mmMapMsg->setReadOnly(true);
  msgLayout->addWidget(mmMapMsg, 1);
  // The log lights strip takes its own size when it is built.
  pnlMapLogLights = new QWidget(tsStateMsg);
  pnlMapLogLights->setObjectName("pnlMapLogLights");
  pnlMapLogLights->setMinimumSize(268, 40);
  msgLayout->addWidget(pnlMapLogLights, 0, Qt::AlignLeft);

  tsStateInfo = new QWidget;
  tsStateInfo->setObjectName("tsStateInfo");
  pcStateSide->addTab(tsStateInfo, "Info");
  auto* infoLayout = new QVBoxLayout(tsStateInfo);
  infoLayout->setContentsMargins(0, 0, 0, 0);
  lgMapState = new views::StateLegend(tsStateInfo);
  lgMapState->setObjectName("lgMapState");
  infoLayout->addWidget(lgMapState);
}

void MainWindowLayout::CreateLowerPages() {
  // "Setting": start time, server version, script path, status server and switches.
  tsSettingPage = new QWidget;
  tsSettingPage->setObjectName("tsSettingPage");
  pcSetting->addTab(tsSettingPage, "Setting");
  auto* grid = new QGridLayout(tsSettingPage);
  grid->setContentsMargins(8, 6, 8, 6);
  grid->setHorizontalSpacing(8);

  lblStartTime = new QLabel("StartTime", tsSettingPage);
  lblStartTime->setObjectName("lblStartTime");
  lblServerVersion = new QLabel("Server Version:", tsSettingPage);
  lblServerVersion->setObjectName("lblServerVersion");
  grid->addWidget(lblStartTime, 0, 0, 1, 2);
  grid->addWidget(lblServerVersion, 0, 2, 1, 2);

  lblScriptPath = new QLabel("ScriptPath:", tsSettingPage);
  lblScriptPath->setObjectName("lblScriptPath");
  edtScriptPath = new QLineEdit(tsSettingPage);
  edtScriptPath->setObjectName("edtScriptPath");
  btnBrowseScriptPath = new QPushButton("Browse...", tsSettingPage);
  btnBrowseScriptPath->setObjectName("btnBrowseScriptPath");
  grid->addWidget(lblScriptPath, 1, 0);
  grid->addWidget(edtScriptPath, 1, 1, 1, 2);
  grid->addWidget(btnBrowseScriptPath, 1, 3);

  lblStatusServer = new QLabel("Status Server:", tsSettingPage);
  lblStatusServer->setObjectName("lblStatusServer");
  edtStatusServer = new QLineEdit("StatusServer", tsSettingPage);
  edtStatusServer->setObjectName("edtStatusServer");
  btApply = new QPushButton("SaveApply", tsSettingPage);
  btApply->setObjectName("btApply");
  grid->addWidget(lblStatusServer, 2, 0);
  grid->addWidget(edtStatusServer, 2, 1, 1, 2);
  grid->addWidget(btApply, 2, 3);

  cbOpenInCMDLine = new QCheckBox("StartInCmdLine", tsSettingPage);
  cbOpenInCMDLine->setObjectName("cbOpenInCMDLine");
  cbOpenInCMDLine->setChecked(true);
  cbDebugModule = new QCheckBox("cbDebugModule", tsSettingPage);
  cbDebugModule->setObjectName("cbDebugModule");
  cbForbiddenAutoRestart = new QCheckBox("Forbidden Auto Restart On Disconnect", tsSettingPage);
  cbForbiddenAutoRestart->setObjectName("cbForbiddenAutoRestart");
  grid->addWidget(cbOpenInCMDLine, 3, 0, 1, 2);
  grid->addWidget(cbDebugModule, 3, 2);
  grid->addWidget(cbForbiddenAutoRestart, 4, 0, 1, 3);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(2, 1);
  grid->setRowStretch(5, 1);

  // "Player", "Item": pages without behaviour.
  tsPlayer = new QWidget;
  tsPlayer->setObjectName("tsPlayer");
  pcSetting->addTab(tsPlayer, "Player");
  tsItem = new QWidget;
  tsItem->setObjectName("tsItem");
  pcSetting->addTab(tsItem, "Item");

  // "Func": the fatal-error label.
  tsFunc = new QWidget;
  tsFunc->setObjectName("tsFunc");
  pcSetting->addTab(tsFunc, "Func");
  auto* funcLayout = new QVBoxLayout(tsFunc);
  lblFatalError = new QLabel("FatalError", tsFunc);
  lblFatalError->setObjectName("lblFatalError");
  funcLayout->addWidget(lblFatalError);
  funcLayout->addStretch(1);

  // "ScriptRunner(AllMap)": sample scripts on the left, the script to send on the right.
  tsScriptRunner = new QWidget;
  tsScriptRunner->setObjectName("tsScriptRunner");
  pcSetting->addTab(tsScriptRunner, "ScriptRunner(AllMap)");
  auto* runnerLayout = new QHBoxLayout(tsScriptRunner);
  runnerLayout->setContentsMargins(2, 2, 2, 2);
  gbScript = new QGroupBox("Script", tsScriptRunner);
  gbScript->setObjectName("gbScript");
  auto* sampleLayout = new QVBoxLayout(gbScript);
  sampleLayout->setContentsMargins(2, 2, 2, 2);
  mmScriptSample = new QPlainTextEdit(gbScript);
  mmScriptSample->setObjectName("mmScriptSample");
  QStringList samples;
  for (const char* line : kScriptSamples) samples << QString::fromUtf8(line);
  mmScriptSample->setPlainText(samples.join('\n'));
  sampleLayout->addWidget(mmScriptSample);
  runnerLayout->addWidget(gbScript, 1);
  mmScript = new QPlainTextEdit(tsScriptRunner);
  mmScript->setObjectName("mmScript");
  runnerLayout->addWidget(mmScript, 1);
  auto* runColumn = new QVBoxLayout;
  btRunScript = new QPushButton("Execute", tsScriptRunner);
  btRunScript->setObjectName("btRunScript");
  lblScriptResult = new QLabel("Script Execute Result", tsScriptRunner);
  lblScriptResult->setObjectName("lblScriptResult");
  runColumn->addWidget(btRunScript);
  runColumn->addWidget(lblScriptResult);
  runColumn->addStretch(1);
  runnerLayout->addLayout(runColumn);

  // "Debug".
  tsDebug = new QWidget;
  tsDebug->setObjectName("tsDebug");
  pcSetting->addTab(tsDebug, "Debug");
  auto* debugLayout = new QGridLayout(tsDebug);
  debugLayout->setContentsMargins(8, 6, 8, 6);
  auto debugButton = [this, debugLayout](QPushButton*& target, const char* name, const char* caption, int row,
                                         int column) {
    target = new QPushButton(caption, tsDebug);
    target->setObjectName(name);
    debugLayout->addWidget(target, row, column);
  };
  debugButton(btMiniOpenAll, "btMiniOpenAll", "Mini Open All", 0, 0);
  debugButton(btMiniCloseAll, "btMiniCloseAll", "Mini Close All", 0, 1);
  debugButton(btOutPutMsg, "btOutPutMsg", "btOutPutMsg", 1, 0);
  debugButton(btnTestEurekaLog, "btnTestEurekaLog", "TestEurekaLog", 1, 1);
  debugLayout->setColumnStretch(2, 1);
  debugLayout->setRowStretch(2, 1);
}

void MainWindowLayout::CreateMsgPage() {
  tsMsg = new QWidget;
  tsMsg->setObjectName("tsMsg");
  pcMain->addTab(tsMsg, "Msg");
  auto* layout = new QHBoxLayout(tsMsg);
  layout->setContentsMargins(2, 2, 2, 2);
  lvMapServerList = NewListView(tsMsg);
  lvMapServerList->setObjectName("lvMapServerList");
  lvMapServerListModel = new views::OwnerDataListModel(Captions(views::kMapServerListColumns), m_Owner);
  lvMapServerList->setModel(lvMapServerListModel);
  FitColumnsToCaptions(lvMapServerList);
  layout->addWidget(lvMapServerList, 2);
  // Two further list views without behaviour.
  lvMsgLeft = NewListView(tsMsg);
  lvMsgLeft->setObjectName("lvMsgLeft");
  layout->addWidget(lvMsgLeft, 1);
  lvMsgRight = NewListView(tsMsg);
  lvMsgRight->setObjectName("lvMsgRight");
  layout->addWidget(lvMsgRight, 1);
}

void MainWindowLayout::CreateDataPage() {
  tsData = new QWidget;
  tsData->setObjectName("tsData");
  pcMain->addTab(tsData, "Data");
  auto* layout = new QVBoxLayout(tsData);
  layout->setContentsMargins(12, 12, 12, 12);
  auto label = [this, layout](QLabel*& target, const char* name, const char* caption) {
    target = new QLabel(caption, tsData);
    target->setObjectName(name);
    layout->addWidget(target);
  };
  label(lblShareMemoryInitState, "lblShareMemoryInitState", "ShareMemoryInitState:");
  label(lblShareMemoryPlayerTotal, "lblShareMemoryPlayerTotal", "ShareMemoryPlayerTotal:");
  label(lblShareMemoryItemTotal, "lblShareMemoryItemTotal", "ShareMemoryItemTotal:");
  layout->addStretch(1);
}

void MainWindowLayout::CreatePopupMenu() {
  pmMaps = new QMenu(m_Owner);
  pmMaps->setObjectName("pmMaps");
  auto item = [this](QAction*& target, const char* name, const char* caption) {
    target = pmMaps->addAction(caption);
    target->setObjectName(name);
  };
  item(niStartSelect, "niStartSelect", "Start/RestartThis");
  item(niCloseMapServer, "niCloseMapServer", "CloseThis");
  item(niSpace, "niSpace", "Space");
  item(niResetLogCount, "niResetLogCount", "ResetLogCount");
  pmMaps->addSeparator();
  item(miBrindTopWnd, "miBrindTopWnd", "Show");
  item(niHideAll, "niHideAll", "Minimize");
  pmMaps->addSeparator();
  item(miStartRestartMap, "miStartRestartMap", "Start/Restart Map");
  QObject::connect(
      lvMaps, &QWidget::customContextMenuRequested, pmMaps,
      [menu = pmMaps, view = lvMaps](const QPoint& at) { menu->popup(view->viewport()->mapToGlobal(at)); });
}

void MainWindowLayout::CreateTimers() {
  ttTimer = new QTimer(m_Owner);
  ttTimer->setObjectName("ttTimer");
  ttTimer->setInterval(1000);

  tmReconnectCheck = new QTimer(m_Owner);
  tmReconnectCheck->setObjectName("tmReconnectCheck");
  tmReconnectCheck->setInterval(10000);
  tmReconnectCheck->start();

  tmProcessLauncher = new QTimer(m_Owner);
  tmProcessLauncher->setObjectName("tmProcessLauncher");
  tmProcessLauncher->setInterval(500);

  // The restarts of map servers that ended by themselves, when "RestartExitedMaps" is set.
  tmRestartCheck = new QTimer(m_Owner);
  tmRestartCheck->setObjectName("tmRestartCheck");
  tmRestartCheck->setInterval(1000);

  // The status script step runs on the window thread, where every other use of the script
  // host runs too, so the two never overlap.
  tmStatusScript = new QTimer(m_Owner);
  tmStatusScript->setObjectName("tmStatusScript");
  tmStatusScript->setInterval(50);
}

}  // namespace app
