// The main window's side of the monitoring views: the refresh tick, the rows of both list
// views, the cells of the state grid and the clicks on it, the labels the tick rewrites, and
// the log lights of the selected cell. What a cell or a label shows is decided in src/views.
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "app/MainWindowLayout.h"
#include "app/MapServerManager.h"
#include "app/TVemoMapServerManagerMain.h"
#include "components/GameDataComponent.h"
#include "components/LogComponent.h"
#include "interfaces/IGameData.h"
#include "launch/MapServerLauncher.h"
#include "registry/MapServerInfoManager.h"
#include "registry/MapServerState.h"
#include "registry/RecordAccess.h"
#include "views/ControlNames.h"
#include "views/DisplayText.h"
#include "views/GridCell.h"
#include "views/LogLights.h"
#include "views/MapRowText.h"
#include "views/OwnerDataListModel.h"
#include "views/StateGrid.h"
#include "views/StatusLabels.h"

namespace {

// The rows of a list view that are on screen, clamped to its rows; first > last when none.
std::pair<int, int> VisibleRows(const QTableView* view, int count) {
  if (count <= 0 || !view->isVisible()) return {0, -1};
  const int first = std::max(0, view->rowAt(0));
  int last = view->rowAt(view->viewport()->height() - 1);
  if (last < 0) last = count - 1;
  return {first, last};
}

}  // namespace

void TVemoMapServerManagerMain::ConnectViewControls() {
  connect(m_Ui->ttTimer, &QTimer::timeout, this, &TVemoMapServerManagerMain::ttTimerTimer);
  m_Ui->lvMapsModel->SetCellText([this](int row, int column) { return lvMapsData(row, column); });
  m_Ui->lvMapServerListModel->SetCellText([this](int row, int column) { return lvMapServerListData(row, column); });
  m_Ui->sgMap->SetDrawCell(
      [this](int col, int row, QPainter& painter, const QRect& rect) { sgMapDrawCell(col, row, painter, rect); });
  m_Ui->sgMap->SetCellToolTip([this](int col, int row) {
    const MapServerInfo* info = Maps().GetMapInfo(views::StateGrid::PositionOf(col, row));
    if (info == nullptr) return QString();
    const QString name = views::MapNameText(*info);
    const tagMapServerData* record = info->GetShareData();
    if (record == nullptr) return name;
    return QString("%1\n%2\nPlayerCount: %3/%4")
        .arg(name, QString::fromLatin1(MapServerStateText(record::State(*record))))
        .arg(record::Load(record->PlayerCnt))
        .arg(record::Load(record->MaxPlayerCnt));
  });
  connect(m_Ui->sgMap, &views::StateGrid::Clicked, this, &TVemoMapServerManagerMain::sgMapClick);
  connect(m_Ui->sgMap, &views::StateGrid::DoubleClicked, this, &TVemoMapServerManagerMain::sgMapDblClick);

  // Columns whose texts are longer than their captions start wide enough for them.
  const QFontMetrics metrics(m_Ui->lvMaps->font());
  auto widen = [&metrics](QTableView* view, int column, const char* sample) {
    const int width = metrics.horizontalAdvance(QString::fromUtf8(sample)) + 18;
    if (view->columnWidth(column) < width) view->setColumnWidth(column, width);
  };
  widen(m_Ui->lvMaps, 1, "Green Hills(MapServer_1000)");
  widen(m_Ui->lvMaps, 4, "Connecting...");
  widen(m_Ui->lvMaps, 10, "4294967295");
  widen(m_Ui->lvMapServerList, 0, "Green Hills(MapServer_1000)");
  widen(m_Ui->lvMapServerList, 2, "Connecting...");

  m_Ui->lblScriptPath->setBuddy(m_Ui->edtScriptPath);
  m_Ui->lblStatusServer->setBuddy(m_Ui->edtStatusServer);
  views::NameControlsByCaption(this);
}

MapServerInfoManager& TVemoMapServerManagerMain::Maps() const { return m_Manager->Maps(); }

void TVemoMapServerManagerMain::CreateLogLights() {
  m_LogLights = std::make_unique<views::LogLights>(nullptr, this, m_Ui->pnlMapLogLights);
  m_LogLights->CreateLights();
}

void TVemoMapServerManagerMain::ttTimerTimer() {
  MapServerInfoManager& maps = Maps();
  // 1. The heartbeat rule.
  if (MapServerLauncher* launcher = Launcher()) launcher->ApplyHeartbeatRule();

  // 2. The map list view: its count, then its rows on screen drawn again.
  const int count = maps.GetMapInfoCount();
  m_Ui->lvMapsModel->SetItemCount(count);
  const auto [first, last] = VisibleRows(m_Ui->lvMaps, count);
  m_Ui->lvMapsModel->RefreshRows(first, last);

  // 3. CPU figures (sampled off this thread; the first tick starts the sampler); 4. the
  // whole grid drawn again.
  maps.StartSampler();
  m_Ui->sgMap->update();

  // 5. Share data totals and the remaining start time.
  IPellwyn* shareData = GetSysTableShareData();
  if (shareData != nullptr) {
    m_Ui->lblShareMemoryInitState->setText(
        QString("ShareMemoryInitState: %1").arg(shareData->GetShareMemoryInitState()));
    m_Ui->lblShareMemoryPlayerTotal->setText(
        QString("ShareMemoryPlayerTotal:%1").arg(shareData->GetSharePlayerTotal()));
    m_Ui->lblShareMemoryItemTotal->setText(QString("ShareMemoryItemTotal:%1").arg(shareData->GetShareItemTotal()));
  }
  m_Ui->lblStartTime->setText(views::RemainStartTimeText(Launcher() ? Launcher()->GetRemainStartTime() : 0));

  // 6. The caption.
  setWindowTitle("MapServerManager");

  // 7. The fatal-error label.
  ILog* log = LogObject();
  m_Ui->lblFatalError->setText(views::FatalErrorText(log->GetFatalErrorCount(), log->GetLastFatalErrorTime()));

  // 8. A new system version of the share data: map it again. The head moves with the
  // mapping, so the flag is cleared in the head read afterwards.
  if (shareData != nullptr) {
    const tagShareHead* head = shareData->GetShareHead();
    if (head != nullptr && record::Load(head->Recreated) != 0) {
      const int version = static_cast<int>(record::Load(head->VemoSysVersion));
      log->TraceInfo("重新创建内存文件映射, VemoSysVersion = %d", version);
      shareData->RecreateFileMapping(version);
      if (tagShareHead* moved = shareData->GetShareHead()) record::Store(moved->Recreated, 0u);
    }
  }

  // 9. The log lights of the selected cell.
  UpdateLogLights();

  // A record segment shrunk under the manager by another process goes into the log.
  maps.ReportSharedMemoryFaults();
}

void TVemoMapServerManagerMain::UpdateLogLights() {
  if (m_SelectedCell < 0 || !m_LogLights) return;
  const MapServerInfo* info = Maps().GetMapInfo(m_SelectedCell);
  const tagMapServerData* record = info != nullptr ? info->GetShareData() : nullptr;
  if (record != nullptr) {
    m_LogLights->SetCounts(record::LogLevelCounts(*record));
  } else {
    m_SelectedCell = -1;
    m_LogLights->SetCounts({});
  }
}

QString TVemoMapServerManagerMain::lvMapsData(int row, int column) const {
  return views::MapListCellText(Maps().GetMapInfo(row), column);
}

QString TVemoMapServerManagerMain::lvMapServerListData(int row, int column) const {
  return views::MapServerListCellText(Maps().GetMapInfo(row), column);
}

void TVemoMapServerManagerMain::sgMapDrawCell(int col, int row, QPainter& painter, const QRect& rect) {
  MapServerInfo* info = Maps().GetMapInfo(views::StateGrid::PositionOf(col, row));
  const views::CellPlan plan = info != nullptr
                                   ? views::PlanCell(&info->GetMapData(), info->GetShareData(), views::TodayOfMonth())
                                   : views::CellPlan();
  views::StateGrid::PaintCell(painter, rect, plan);
}

void TVemoMapServerManagerMain::sgMapClick() {
  m_Ui->mmMapMsg->clear();
  const int position = views::StateGrid::PositionOf(m_Ui->sgMap->Col(), m_Ui->sgMap->Row());
  const MapServerInfo* info = Maps().GetMapInfo(position);
  const tagMapServerData* record = info != nullptr ? info->GetShareData() : nullptr;
  if (record == nullptr) return;
  QString text = views::DisplayText(record::Text(record->MsgText));
  text.replace("\r\n", "\n");
  m_Ui->mmMapMsg->setPlainText(text);
  m_SelectedCell = position;
  UpdateLogLights();
}

void TVemoMapServerManagerMain::sgMapDblClick() {
  const int position = views::StateGrid::PositionOf(m_Ui->sgMap->Col(), m_Ui->sgMap->Row());
  if (Maps().GetMapInfo(position) == nullptr) return;
  m_Ui->pcView->setCurrentWidget(m_Ui->tsTable);
  m_Ui->lvMapsModel->SetItemCount(Maps().GetMapInfoCount());
  const QModelIndex index = m_Ui->lvMapsModel->index(position, 0);
  m_Ui->lvMaps->selectRow(position);
  m_Ui->lvMaps->scrollTo(index, QAbstractItemView::EnsureVisible);
}
