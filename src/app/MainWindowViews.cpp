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
  lvMapsModel->SetCellText([this](int row, int column) { return lvMapsData(row, column); });
  lvMapServerListModel->SetCellText([this](int row, int column) { return lvMapServerListData(row, column); });
  sgMap->SetDrawCell([this](int col, int row, QPainter& painter, const QRect& rect) {
    sgMapDrawCell(col, row, painter, rect);
  });
  sgMap->SetCellToolTip([this](int col, int row) {
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
  connect(sgMap, &views::StateGrid::Clicked, this, &TVemoMapServerManagerMain::sgMapClick);
  connect(sgMap, &views::StateGrid::DoubleClicked, this, &TVemoMapServerManagerMain::sgMapDblClick);

  // Columns whose texts are longer than their captions start wide enough for them.
  const QFontMetrics metrics(lvMaps->font());
  auto widen = [&metrics](QTableView* view, int column, const char* sample) {
    const int width = metrics.horizontalAdvance(QString::fromUtf8(sample)) + 18;
    if (view->columnWidth(column) < width) view->setColumnWidth(column, width);
  };
  widen(lvMaps, 1, "Green Hills(MapServer_1000)");
  widen(lvMaps, 4, "Connecting...");
  widen(lvMaps, 10, "4294967295");
  widen(lvMapServerList, 0, "Green Hills(MapServer_1000)");
  widen(lvMapServerList, 2, "Connecting...");

  lblScriptPath->setBuddy(edtScriptPath);
  lblStatusServer->setBuddy(edtStatusServer);
  views::NameControlsByCaption(this);
}

MapServerInfoManager& TVemoMapServerManagerMain::Maps() const {
  return m_Launcher ? m_Launcher->Maps() : GetMapServerInfoManager();
}

void TVemoMapServerManagerMain::CreateLogLights() {
  m_LogLights = std::make_unique<views::LogLights>(nullptr, this, pnlMapLogLights);
  m_LogLights->CreateLights();
}

void TVemoMapServerManagerMain::ttTimerTimer() {
  MapServerInfoManager& maps = Maps();
  // 1. The heartbeat rule.
  if (m_Launcher) m_Launcher->ApplyHeartbeatRule();

  // 2. The map list view: its count, then its rows on screen drawn again.
  const int count = maps.GetMapInfoCount();
  lvMapsModel->SetItemCount(count);
  const auto [first, last] = VisibleRows(lvMaps, count);
  lvMapsModel->RefreshRows(first, last);

  // 3. CPU figures; 4. the whole grid drawn again.
  maps.SampleCpu();
  sgMap->update();

  // 5. Share data totals and the remaining start time.
  IPellwyn* shareData = GetSysTableShareData();
  if (shareData != nullptr) {
    lblShareMemoryInitState->setText(QString("ShareMemoryInitState: %1").arg(shareData->GetShareMemoryInitState()));
    lblShareMemoryPlayerTotal->setText(QString("ShareMemoryPlayerTotal:%1").arg(shareData->GetSharePlayerTotal()));
    lblShareMemoryItemTotal->setText(QString("ShareMemoryItemTotal:%1").arg(shareData->GetShareItemTotal()));
  }
  lblStartTime->setText(views::RemainStartTimeText(m_Launcher ? m_Launcher->GetRemainStartTime() : 0));

  // 6. The caption.
  setWindowTitle("MapServerManager");

  // 7. The fatal-error label.
  ILog* log = LogObject();
  lblFatalError->setText(views::FatalErrorText(log->GetFatalErrorCount(), log->GetLastFatalErrorTime()));

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
  const views::CellPlan plan =
      info != nullptr ? views::PlanCell(&info->GetMapData(), info->GetShareData(), views::TodayOfMonth())
                      : views::CellPlan();
  views::StateGrid::PaintCell(painter, rect, plan);
}

void TVemoMapServerManagerMain::sgMapClick() {
  mmMapMsg->clear();
  const int position = views::StateGrid::PositionOf(sgMap->Col(), sgMap->Row());
  const MapServerInfo* info = Maps().GetMapInfo(position);
  const tagMapServerData* record = info != nullptr ? info->GetShareData() : nullptr;
  if (record == nullptr) return;
  QString text = views::DisplayText(record::Text(record->MsgText));
  text.replace("\r\n", "\n");
  mmMapMsg->setPlainText(text);
  m_SelectedCell = position;
  UpdateLogLights();
}

void TVemoMapServerManagerMain::sgMapDblClick() {
  const int position = views::StateGrid::PositionOf(sgMap->Col(), sgMap->Row());
  if (Maps().GetMapInfo(position) == nullptr) return;
  pcView->setCurrentWidget(tsTable);
  lvMapsModel->SetItemCount(Maps().GetMapInfoCount());
  const QModelIndex index = lvMapsModel->index(position, 0);
  lvMaps->selectRow(position);
  lvMaps->scrollTo(index, QAbstractItemView::EnsureVisible);
}
