// The monitoring views of the started main window on real records: the refresh tick and
// its labels, both list views, the grid, the clicks, the log lights, a hostile record and
// the controls' accessible names.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QToolTip>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <random>
#include <set>

#include "ViewsWindow.h"
#include "WindowControls.h"
#include "components/GameDataComponent.h"
#include "interfaces/IGameData.h"
#include "launch/MapServerLauncher.h"
#include "platform/clock.h"
#include "registry/CSharedMem.h"
#include "registry/MapServerInfoManager.h"
#include "support/OffscreenApplication.h"
#include "views/GridColours.h"
#include "views/LogLights.h"
#include "views/OwnerDataListModel.h"
#include "views/StateGrid.h"
#include "views/StatusLabels.h"

namespace {

using Window = TVemoMapServerManagerMain;

// A clock whose date is a given day of the month; its tick count runs on.
class DayClock : public platform::Clock {
 public:
  explicit DayClock(int day) {
    std::tm date{};
    date.tm_year = 2030 - 1900;
    date.tm_mon = 0;
    date.tm_mday = day;
    date.tm_hour = 12;
    date.tm_isdst = -1;
    m_Now = std::mktime(&date);
    platform::SetClockForTesting(this);
  }
  ~DayClock() override { platform::SetClockForTesting(nullptr); }
  std::time_t Now() override { return m_Now; }

 private:
  std::time_t m_Now;
};

// The local date and time as the log component keeps it.
double LocalDateTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return platform::TimeToDateTime(std::mktime(&t));
}

QString AccessibleName(QWidget* widget) {
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
  return accessible != nullptr ? accessible->text(QAccessible::Name) : QString();
}

QPoint CellCentre(int position) { return QPoint(position % 20 * 24 + 12, position / 20 * 24 + 12); }

// The cell box of list position n, pixel by pixel: a white margin of 2 pixels (3 on the
// right and at the bottom), black bottom and right edges of the box, the fill inside.
void ExpectCellBox(const QImage& grid, int position, const QColor& fill) {
  const int left = position % 20 * 24, top = position / 20 * 24;
  for (int y = 0; y < 24; ++y) {
    for (int x = 0; x < 24; ++x) {
      QColor expected = fill;
      if (x < 2 || y < 2 || x == 23 || y == 23)
        expected = QColor(Qt::white);
      else if (x == 22 || y == 22)
        expected = QColor(Qt::black);
      ASSERT_EQ(grid.pixelColor(left + x, top + y), expected) << "cell " << position << " at " << x << "," << y;
    }
  }
}

// Pixels inside the box of list position n that are not its fill: the day's digits.
int DayPixels(const QImage& grid, int position, const QColor& fill) {
  const int left = position % 20 * 24, top = position / 20 * 24;
  int count = 0;
  for (int y = 2; y < 22; ++y)
    for (int x = 2; x < 22; ++x) count += grid.pixelColor(left + x, top + y) != fill ? 1 : 0;
  return count;
}

TEST(ViewsWindowTest, RefreshTickWritesItsLabelsAndMapsTheShareDataAgainForANewVersion) {
  ViewsWindow machine("Labels");
  Window& window = machine.Start("");
  // The share data as start-up leaves it: initialised, no tables loaded. (In a process that
  // ran another window before, the component may have kept its loaded object.)
  IPellwyn* shareData = GetSysTableShareData();
  ASSERT_NE(shareData, nullptr);
  shareData->UnloadShareData();
  window.ttTimerTimer();
  EXPECT_EQ(window.windowTitle(), "MapServerManager");
  EXPECT_EQ(Control<QLabel>(window, "lblShareMemoryInitState")->text(), "ShareMemoryInitState: 1");
  EXPECT_EQ(Control<QLabel>(window, "lblShareMemoryPlayerTotal")->text(), "ShareMemoryPlayerTotal:0");
  EXPECT_EQ(Control<QLabel>(window, "lblShareMemoryItemTotal")->text(), "ShareMemoryItemTotal:0");
  EXPECT_EQ(Control<QLabel>(window, "lblStartTime")->text(), "RemainStartTime: 0Min0Sec");
  EXPECT_EQ(Control<QLabel>(window, "lblFatalError")->text(), "FatalError : 0");

  // Loaded share data (message 1029) shows its totals: the built-in tables.
  platform::BusMessage load;
  load.Msg = WM_MAPMANAGER_LOAD_SHAREDATA;
  window.WndMethod(load);
  window.ttTimerTimer();
  EXPECT_EQ(Control<QLabel>(window, "lblShareMemoryInitState")->text(), "ShareMemoryInitState: 2");
  EXPECT_EQ(Control<QLabel>(window, "lblShareMemoryPlayerTotal")->text(), "ShareMemoryPlayerTotal:100");
  EXPECT_EQ(Control<QLabel>(window, "lblShareMemoryItemTotal")->text(), "ShareMemoryItemTotal:8");

  // Minutes and seconds of the remaining start time, in unsigned division.
  EXPECT_EQ(views::RemainStartTimeText(61999), "RemainStartTime: 1Min1Sec");
  EXPECT_EQ(views::RemainStartTimeText(3600000), "RemainStartTime: 60Min0Sec");
  EXPECT_EQ(views::RemainStartTimeText(UINT32_MAX), "RemainStartTime: 71582Min47Sec");

  // A fatal line: the count and its time of day, never the date.
  machine.log.LogFatal("first");
  machine.log.LogFatal("second");
  machine.log.lastFatalTime = LocalDateTime(2031, 5, 17, 13, 45, 30);
  window.ttTimerTimer();
  const QString fatal = Control<QLabel>(window, "lblFatalError")->text();
  EXPECT_TRUE(fatal.startsWith("FatalErrorCount : 2, Time : ")) << fatal.toStdString();
  EXPECT_TRUE(fatal.contains("45:30")) << fatal.toStdString();
  EXPECT_FALSE(fatal.contains("2031") || fatal.contains("17") || fatal.contains("31")) << fatal.toStdString();
  EXPECT_TRUE(views::TimeOfDayText(std::numeric_limits<double>::quiet_NaN()).contains("00:00"));
  EXPECT_TRUE(views::TimeOfDayText(-1.75).contains("18:00"));  // 1899-12-29 18:00

  // A new system version: the mapping is made again with it, and the flag cleared in the
  // head that the new mapping has.
  tagShareHead* head = shareData->GetShareHead();
  const uint32_t version = head->VemoSysVersion;
  head->VemoSysVersion = 4242;
  head->Recreated = 1;
  window.ttTimerTimer();
  window.ttTimerTimer();
  const std::string line = "重新创建内存文件映射, VemoSysVersion = 4242";
  int lines = 0;
  for (const std::string& text : machine.log.Texts(llInfo)) lines += text == line ? 1 : 0;
  EXPECT_EQ(lines, 1);
  tagShareHead* now = shareData->GetShareHead();
  EXPECT_EQ(now->Recreated, 0u);
  EXPECT_EQ(now->VemoSysVersion, 4242u);
  now->VemoSysVersion = version;
}

TEST(ViewsWindowTest, ListViewsAskOnlyForTheRowsOnScreenAndKeepTheirPlace) {
  ViewsWindow machine("Rows");
  Window& window = machine.Start("");
  auto mapsTester = std::make_unique<QAbstractItemModelTester>(ListModel(window, "lvMaps"),
                                                               QAbstractItemModelTester::FailureReportingMode::Fatal);
  auto serversTester = std::make_unique<QAbstractItemModelTester>(
      ListModel(window, "lvMapServerList"), QAbstractItemModelTester::FailureReportingMode::Fatal);
  QSignalSpy mapsResets(ListModel(window, "lvMaps"), &QAbstractItemModel::modelReset);
  QSignalSpy serversResets(ListModel(window, "lvMapServerList"), &QAbstractItemModel::modelReset);
  window.show();
  QCoreApplication::processEvents();
  EXPECT_EQ(ListModel(window, "lvMaps")->rowCount(), 0) << "an empty map list shows empty lists";
  window.ttTimerTimer();

  // Rows past the grid's 600 cells appear in both lists. A new count leaves the view where
  // it was: no reset, no scroll.
  machine.Reload(machine.Lines(650));
  ASSERT_EQ(ListModel(window, "lvMaps")->rowCount(), 650);
  ASSERT_EQ(ListModel(window, "lvMapServerList")->rowCount(), 650);
  window.ttTimerTimer();
  QCoreApplication::processEvents();
  Control<QTableView>(window, "lvMaps")
      ->scrollTo(ListModel(window, "lvMaps")->index(300, 0), QAbstractItemView::PositionAtTop);
  QCoreApplication::processEvents();
  const int scrolled = Control<QTableView>(window, "lvMaps")->verticalScrollBar()->value();
  machine.Reload(machine.Lines(660));
  window.ttTimerTimer();
  QCoreApplication::processEvents();
  EXPECT_EQ(Control<QTableView>(window, "lvMaps")->verticalScrollBar()->value(), scrolled);
  EXPECT_EQ(Control<QTableView>(window, "lvMaps")->rowAt(0), 300);
  EXPECT_EQ(mapsResets.count(), 0);
  EXPECT_EQ(serversResets.count(), 0);
  // (The testers probe cells of their own on every change; the count below is the view's.)
  mapsTester.reset();
  serversTester.reset();

  // The cells that a tick makes the view produce: those of the rows on screen only.
  std::set<int> rows;
  int calls = 0;
  ListModel(window, "lvMaps")->SetCellText([&](int row, int column) {
    ++calls;
    rows.insert(row);
    return window.lvMapsData(row, column);
  });
  auto tick = [&] {
    QCoreApplication::processEvents();
    rows.clear();
    calls = 0;
    window.ttTimerTimer();
    QCoreApplication::processEvents();
  };
  auto onScreen = [&] {
    return std::make_pair(
        Control<QTableView>(window, "lvMaps")->rowAt(0),
        Control<QTableView>(window, "lvMaps")->rowAt(Control<QTableView>(window, "lvMaps")->viewport()->height() - 1));
  };
  tick();
  auto [first, last] = onScreen();
  ASSERT_EQ(first, 300);
  ASSERT_GT(last, first);
  ASSERT_FALSE(rows.empty()) << "the tick repaints the rows on screen";
  EXPECT_EQ(*rows.begin(), first);
  EXPECT_EQ(*rows.rbegin(), last);
  EXPECT_LE(calls, (last - first + 1) * 20);

  Control<QTableView>(window, "lvMaps")->scrollToBottom();
  tick();
  std::tie(first, last) = onScreen();
  EXPECT_EQ(last, 659);
  EXPECT_EQ(*rows.begin(), first);
  EXPECT_EQ(*rows.rbegin(), 659);
  EXPECT_EQ(window.lvMapsData(659, 2), "660");
  EXPECT_EQ(window.lvMapsData(660, 2), "") << "a row without a map is empty";

  // The map server list view on the "Msg" page likewise.
  rows.clear();
  ListModel(window, "lvMapServerList")->SetCellText([&](int row, int column) {
    rows.insert(row);
    return window.lvMapServerListData(row, column);
  });
  Control<QTabWidget>(window, "pcMain")->setCurrentWidget(Control<QWidget>(window, "tsMsg"));
  QCoreApplication::processEvents();
  ASSERT_FALSE(rows.empty());
  EXPECT_LE(*rows.rbegin(), Control<QTableView>(window, "lvMapServerList")
                                ->rowAt(Control<QTableView>(window, "lvMapServerList")->viewport()->height() - 1));
  EXPECT_EQ(window.lvMapServerListData(659, 1), "660");

  // The grid has no cell past list position 599: map 601 is never drawn.
  machine.Record(600).State = msPythonError;
  machine.Record(601).State = msPythonError;
  EXPECT_EQ(machine.Grid().size(), QSize(20 * 24, 30 * 24));
  MapServerInfoManager& maps = window.Launcher()->Maps();
  EXPECT_EQ(maps.GetMapInfo(599)->GetMapData().m_LastDrawState, msPythonError);
  EXPECT_EQ(maps.GetMapInfo(600)->GetMapData().m_LastDrawState, msRunning) << "drawn although it has no cell";
}

TEST(ViewsWindowTest, GridShowsEveryColourInItsCellBoxAndTheDayOfAFall) {
  ViewsWindow machine("Grid");
  DayClock clock(23);
  Window& window = machine.Start("");
  window.show();
  Control<QTabWidget>(window, "pcView")->setCurrentWidget(Control<QWidget>(window, "tsState"));
  QCoreApplication::processEvents();

  // An empty list: every cell white, and a click selects nothing.
  QImage grid = machine.Grid();
  for (int position = 0; position < 600; ++position)
    ASSERT_EQ(ViewsWindow::CellColour(grid, position), QColor(Qt::white));
  ExpectCellBox(grid, 0, Qt::white);
  ExpectCellBox(grid, 599, Qt::white);
  QTest::mouseClick(Control<views::StateGrid>(window, "sgMap"), Qt::LeftButton, {}, CellCentre(0));
  EXPECT_EQ(window.SelectedCell(), -1);

  // Map 12 has no record: someone holds its segment too small.
  bool existed = false;
  CSharedMem blocker(machine.server + "_12_Config", 16, existed);
  ASSERT_TRUE(blocker.Valid());
  machine.Reload(machine.Lines(13));
  tagMapServerData& falls = machine.Running(1, 50, 500);
  machine.Record(2).State = msNotExist;
  machine.Record(3).State = msIniting;
  machine.Record(4).State = msPythonError;
  machine.Record(5).State = msCppError;
  machine.Record(6).State = msDisconnected;
  machine.Running(7, 99, 500);    // 19 %
  machine.Running(8, 100, 500);   // 20 %
  machine.Running(9, 250, 500);   // 50 %
  machine.Running(10, 350, 500);  // 70 %
  machine.Running(11, 250, 0);    // players without a capacity: load 0
  machine.Record(13).State = 99;
  const QColor expected[] = {views::kCellLight,       views::kCellNotStarted, views::kCellNotStarted,
                             views::kCellPythonError, views::kCellCppError,   views::kCellState6,
                             views::kCellLight,       views::kCellNormal,     views::kCellHeavy,
                             views::kCellVeryHeavy,   views::kCellLight,      views::kCellEmpty,
                             views::kCellNotStarted};
  grid = machine.Grid();
  for (int position = 0; position < 13; ++position)
    EXPECT_EQ(ViewsWindow::CellColour(grid, position), expected[position]) << "position " << position;
  for (int position = 13; position < 600; ++position)
    ASSERT_EQ(ViewsWindow::CellColour(grid, position), QColor(Qt::white)) << position;
  ExpectCellBox(grid, 9, views::kCellVeryHeavy);
  ExpectCellBox(grid, 11, Qt::white);

  // Map 1 falls from "Running" into a script error: lime without a number, then with the
  // day from the next repaint on; the day is covered while it runs again and shows at once
  // on the next fall.
  falls.State = msPythonError;
  grid = machine.Grid();
  ExpectCellBox(grid, 0, views::kCellPythonError);
  grid = machine.Grid();
  EXPECT_GT(DayPixels(grid, 0, views::kCellPythonError), 10);
  EXPECT_EQ(window.Launcher()->Maps().GetMapInfo(0)->GetMapData().m_ErrorDay, 23);
  falls.State = msRunning;
  ExpectCellBox(machine.Grid(), 0, views::kCellLight);
  falls.State = msCppError;
  EXPECT_GT(DayPixels(machine.Grid(), 0, views::kCellCppError), 10);
}

TEST(ViewsWindowTest, ClicksShowTheMessageSelectTheMapAndFeedTheLogLights) {
  ViewsWindow machine("Clicks");
  Window& window = machine.Start(machine.Lines(40));
  window.show();
  Control<QTabWidget>(window, "pcView")->setCurrentWidget(Control<QWidget>(window, "tsState"));
  QCoreApplication::processEvents();

  tagMapServerData& one = machine.Running(1, 12, 500);
  const char message[] = "Map1 running\r\n\xD0\xC2\xCA\xD6\xB4\xE5 12 players";  // GBK text
  std::memcpy(one.MsgText, message, sizeof message);
  const uint8_t counts[7] = {0, 0, 1, 1, 0, 2, 0};
  std::memcpy(one.LogLevelCounts, counts, sizeof counts);

  views::LogLights* lights = window.LogLightsStrip();
  ASSERT_NE(lights, nullptr);
  EXPECT_EQ(Control<QWidget>(window, "pnlMapLogLights")->size(), QSize(268, 40));
  auto shown = [&] {
    QStringList texts;
    for (int level = llDebug; level <= llFatal; ++level)
      texts << lights->Counter(static_cast<ELogLevel>(level))->text();
    return texts.join(',');
  };
  auto colour = [&](ELogLevel level) { return lights->Counter(level)->palette().color(QPalette::Window); };
  EXPECT_EQ(shown(), "0,0,0,0,0,0,0");
  EXPECT_EQ(colour(llError), views::LogLights::LevelColour(llNomal));

  // A click on a map with a record shows its message and its lights at once.
  QTest::mouseClick(Control<views::StateGrid>(window, "sgMap"), Qt::LeftButton, {}, CellCentre(0));
  EXPECT_EQ(Control<QPlainTextEdit>(window, "mmMapMsg")->toPlainText(),
            QString::fromUtf8("Map1 running\n新手村 12 players"));
  EXPECT_EQ(window.SelectedCell(), 0);
  EXPECT_EQ(shown(), "0,0,1,1,0,2,0");
  EXPECT_EQ(colour(llError), QColor(0xFF, 0x45, 0x00));
  EXPECT_EQ(colour(llFatal), views::LogLights::LevelColour(llNomal));
  // The tick follows the selected record.
  one.LogLevelCounts[6] = 255;
  window.ttTimerTimer();
  EXPECT_EQ(shown(), "0,0,1,1,0,2,255");

  // A click on a white cell clears the memo and keeps the selection.
  QTest::mouseClick(Control<views::StateGrid>(window, "sgMap"), Qt::LeftButton, {}, CellCentre(45));
  EXPECT_TRUE(Control<QPlainTextEdit>(window, "mmMapMsg")->toPlainText().isEmpty());
  EXPECT_EQ(window.SelectedCell(), 0);
  one.LogLevelCounts[0] = 7;
  window.ttTimerTimer();
  EXPECT_EQ(shown(), "7,0,1,1,0,2,255");

  // Hovering a cell names the map, its state and its players.
  const QPoint at = CellCentre(0);
  QHelpEvent help(QEvent::ToolTip, at, Control<views::StateGrid>(window, "sgMap")->mapToGlobal(at));
  QApplication::sendEvent(Control<views::StateGrid>(window, "sgMap"), &help);
  const QString tip = QToolTip::text();
  EXPECT_TRUE(tip.contains(QString::fromStdString("Map1(" + machine.server + ")"))) << tip.toStdString();
  EXPECT_TRUE(tip.contains("Running")) << tip.toStdString();
  EXPECT_TRUE(tip.contains("12/500")) << tip.toStdString();

  // A double click (which begins with a click) shows the map's row on the "Table" page,
  // selected and scrolled into view.
  QTest::mouseClick(Control<views::StateGrid>(window, "sgMap"), Qt::LeftButton, {}, CellCentre(39));
  QTest::mouseDClick(Control<views::StateGrid>(window, "sgMap"), Qt::LeftButton, {}, CellCentre(39));
  QCoreApplication::processEvents();
  EXPECT_EQ(Control<QTabWidget>(window, "pcView")->currentWidget(), Control<QWidget>(window, "tsTable"));
  const QModelIndex row = ListModel(window, "lvMaps")->index(39, 0);
  EXPECT_TRUE(Control<QTableView>(window, "lvMaps")->selectionModel()->isRowSelected(39, QModelIndex()));
  EXPECT_TRUE(Control<QTableView>(window, "lvMaps")
                  ->viewport()
                  ->rect()
                  .intersects(Control<QTableView>(window, "lvMaps")->visualRect(row)));
  EXPECT_EQ(Control<QTableView>(window, "lvMaps")->currentIndex().row(), 39);

  // The selected map gone with a reload: the selection is forgotten, the lights go grey.
  ASSERT_EQ(window.SelectedCell(), 39);
  machine.Reload(machine.Lines(10));
  window.ttTimerTimer();
  EXPECT_EQ(window.SelectedCell(), -1);
  EXPECT_EQ(shown(), "0,0,0,0,0,0,0");
  EXPECT_EQ(colour(llError), views::LogLights::LevelColour(llNomal));
}

TEST(ViewsWindowTest, HostileRecordsNeverBreakTheViews) {
  ViewsWindow machine("Hostile");
  Window& window = machine.Start(machine.Lines(3));
  window.show();
  tagMapServerData& r = machine.Record(1);
  auto* bytes = reinterpret_cast<unsigned char*>(&r);
  std::mt19937 random(20240611);
  const float floats[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::max(), std::numeric_limits<float>::denorm_min()};
  for (int round = 0; round < 24; ++round) {
    for (std::size_t i = 0; i < sizeof r; ++i) bytes[i] = static_cast<unsigned char>(random());
    // Every state and the extremes of the counts the load and the columns use.
    r.State = round % 8 - 1;
    r.PlayerCnt = round % 3 == 0 ? INT_MIN : INT_MAX;
    r.MaxPlayerCnt = round % 4 == 0 ? 0 : (round % 4 == 1 ? -1 : (round % 4 == 2 ? INT_MIN : 1));
    r.StreamSaveCostTime = floats[round % 4];
    Control<QTabWidget>(window, "pcMain")->setCurrentIndex(round % 2 == 0 ? 0 : 1);
    Control<QTabWidget>(window, "pcView")->setCurrentIndex(round % 3 == 0 ? 0 : 1);
    window.ttTimerTimer();
    QCoreApplication::processEvents();
    machine.Grid();
    Control<QTableView>(window, "lvMaps")->grab();
    Control<QTableView>(window, "lvMapServerList")->grab();
    QTest::mouseClick(Control<views::StateGrid>(window, "sgMap"), Qt::LeftButton, {}, CellCentre(0));
    QHelpEvent help(QEvent::ToolTip, CellCentre(0),
                    Control<views::StateGrid>(window, "sgMap")->mapToGlobal(CellCentre(0)));
    QApplication::sendEvent(Control<views::StateGrid>(window, "sgMap"), &help);
  }

  // A record without a single zero byte: the message is read to the end of its field.
  std::memset(bytes, 0xFF, sizeof r);
  QTest::mouseClick(Control<views::StateGrid>(window, "sgMap"), Qt::LeftButton, {}, CellCentre(0));
  EXPECT_EQ(Control<QPlainTextEdit>(window, "mmMapMsg")->toPlainText(), QString(1024, '?'));
  window.ttTimerTimer();
  EXPECT_EQ(window.LogLightsStrip()->Counter(llFatal)->text(), "255");
  EXPECT_EQ(window.lvMapsData(0, 6), "-1/-1");
  EXPECT_EQ(window.lvMapsData(0, 18), "-nan");
}

TEST(ViewsWindowTest, EveryControlAnswersWithItsCaption) {
  ViewsWindow machine("Names");
  Window& window = machine.Start("");
  int named = 0;
  for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
    if (qobject_cast<QPushButton*>(button) == nullptr && qobject_cast<QCheckBox*>(button) == nullptr) continue;
    EXPECT_FALSE(button->text().isEmpty()) << button->objectName().toStdString();
    EXPECT_EQ(AccessibleName(button), button->text());
    ++named;
  }
  for (QLabel* label : window.findChildren<QLabel*>()) {
    if (label->text().isEmpty()) continue;  // the legend's colour swatches
    EXPECT_EQ(AccessibleName(label), label->text());
    ++named;
  }
  for (QGroupBox* group : window.findChildren<QGroupBox*>()) EXPECT_EQ(AccessibleName(group), group->title());
  for (QTabWidget* tabs : window.findChildren<QTabWidget*>())
    for (int i = 0; i < tabs->count(); ++i) EXPECT_EQ(AccessibleName(tabs->widget(i)), tabs->tabText(i));
  EXPECT_GT(named, 30);

  // Controls without a caption of their own: the caption that stands for them.
  EXPECT_EQ(AccessibleName(Control<views::StateGrid>(window, "sgMap")), "State");
  EXPECT_EQ(AccessibleName(Control<QPlainTextEdit>(window, "mmMapMsg")), "Msg");
  EXPECT_EQ(AccessibleName(Control<QTableView>(window, "lvMaps")), "TotalPlayer");
  EXPECT_EQ(AccessibleName(Control<QTableView>(window, "lvMapServerList")), "Msg");
  EXPECT_EQ(AccessibleName(Control<QLineEdit>(window, "edtScriptPath")), "ScriptPath:");
  EXPECT_EQ(AccessibleName(Control<QLineEdit>(window, "edtStatusServer")), "Status Server:");
  EXPECT_EQ(AccessibleName(Control<QPlainTextEdit>(window, "mmScriptSample")), "Script");
  EXPECT_EQ(AccessibleName(Control<QPlainTextEdit>(window, "mmScript")), "ScriptRunner(AllMap)");

  // A caption that the tick rewrites is read as it is now.
  window.ttTimerTimer();
  EXPECT_EQ(AccessibleName(Control<QLabel>(window, "lblStartTime")), "RemainStartTime: 0Min0Sec");
}

}  // namespace
