// Pictures of the monitoring views with a live cluster, for a person to look at:
//
//   build/tests/views_pictures [seconds]
//
// starts a manager window in this process on a machine of its own (Qt's offscreen
// platform), with 24 maps: 19 map servers that run normally, and five that misbehave once
// running: a script error (state 4), a program error (state 5), a disconnection (state 6,
// not restarted), a crash and a hang (both gone once their heartbeat has run out). "Start"
// and "StartAll" launch them; after `seconds` (default 75, past the map servers' one-minute
// login ramp, so that every load colour shows) it saves into build/screenshots/:
//   views-state-msg.png   the "State" page: grid, the "Msg" memo and the log lights of the
//                         program-error map
//   views-state-info.png  the same page with the legend ("Info")
//   views-table.png       the "Table" page with every map's row (a taller window)
//   views-msg.png         the map server list view of the "Msg" page
// and kills the map servers.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ViewsWindow.h"
#include "WindowControls.h"
#include "launch/MapServerLauncher.h"
#include "registry/MapServerInfoManager.h"
#include "registry/MapServerState.h"

namespace {

void Pump(int milliseconds) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < milliseconds) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

bool Save(QWidget& widget, const char* file) {
  const QString path = QString(VEMO_SCREENSHOT_DIR) + file;
  const bool saved = widget.grab().save(path);
  std::printf("%s %s\n", saved ? "saved" : "could not save", path.toUtf8().constData());
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 75;
  EnsureOffscreenApplication();
  ViewsWindow machine("Pictures");
  const std::string& server = machine.server;
  setenv("VEMO_MS_PHASE_MS", "300", 1);
  const std::string faults = server + "_20:state4@3," + server + "_21:state5@3," + server + "_22:state6@3," + server +
                             "_23:crash@3," + server + "_24:hang@3";
  setenv("VEMO_MS_FAULTS", faults.c_str(), 1);

  std::string lines;
  const char* names[] = {"Green Hills", "Old Port",     "新手村",     "Iron Mine",    "Salt Flats",  "North Gate",
                         "River Ford",  "Ash Wood",     "Bell Tower", "Grey Marsh",   "Sun Temple",  "Fox Den",
                         "Cold Lake",   "Red Canyon",   "Moon Well",  "Stone Bridge", "Wolf Pass",   "Amber Vale",
                         "Windmill",    "Lost Library", "Forge",      "Watchtower",   "Sunken Ship", "Deep Cave"};
  for (int id = 1; id <= 24; ++id) lines += machine.Line(id, std::string("\"") + names[id - 1] + "\"", id % 4);
  TVemoMapServerManagerMain& window = machine.Start(lines, "cbForbiddenAutoRestart=1\n");
  window.show();
  Control<QTabWidget>(window, "pcView")->setCurrentWidget(Control<QWidget>(window, "tsState"));
  window.btnStartClick();
  window.Launcher()->CacheLaunchSettings();
  window.Launcher()->StartAllServers(false);
  std::printf("%d maps started; waiting %d s\n", window.Launcher()->Maps().GetMapInfoCount(), seconds);
  Pump(seconds * 1000);

  QDir().mkpath(VEMO_SCREENSHOT_DIR);
  // The log lights and the message of the program-error map (list position 20).
  QTest::mouseClick(Control<views::StateGrid>(window, "sgMap"), Qt::LeftButton, {}, QPoint(0 * 24 + 12, 1 * 24 + 12));
  window.ttTimerTimer();
  Pump(300);
  Control<QTabWidget>(window, "pcStateSide")->setCurrentWidget(Control<QWidget>(window, "tsStateMsg"));
  Pump(100);
  bool ok = Save(window, "views-state-msg.png");
  // What each cell showed, read from the picture, beside the record's figures.
  const QImage grid = Control<views::StateGrid>(window, "sgMap")->grab().toImage();
  MapServerInfoManager& shown = window.Launcher()->Maps();
  for (int position = 0; position < shown.GetMapInfoCount(); ++position) {
    const tagMapServerData* record = shown.GetMapInfo(position)->GetShareData();
    const QColor colour = ViewsWindow::CellColour(grid, position);
    std::printf("cell %2d (col %2d, row %d) map %2d  %-12s %4d/%-4d  %s\n", position, position % 20, position / 20,
                shown.GetMapInfo(position)->GetMapData().GetMapID(), MapServerStateText(record->State),
                record->PlayerCnt, record->MaxPlayerCnt, colour.name().toUtf8().constData());
  }
  Control<QTabWidget>(window, "pcStateSide")->setCurrentWidget(Control<QWidget>(window, "tsStateInfo"));
  Pump(100);
  ok = Save(window, "views-state-info.png") && ok;

  window.resize(1700, 900);
  Control<QTabWidget>(window, "pcView")->setCurrentWidget(Control<QWidget>(window, "tsTable"));
  Control<QSplitter>(window, "splSetting")->setSizes({640, 160});
  Pump(1200);
  ok = Save(window, "views-table.png") && ok;
  Control<QTabWidget>(window, "pcMain")->setCurrentWidget(Control<QWidget>(window, "tsMsg"));
  Pump(300);
  ok = Save(window, "views-msg.png") && ok;

  MapServerInfoManager& maps = window.Launcher()->Maps();
  for (int i = 0; i < maps.GetMapInfoCount(); ++i) window.Launcher()->KillProcess(*maps.GetMapInfo(i));
  return ok ? 0 : 1;
}
