// One refresh tick of the started main window with its views shown (the "Table" page with
// the map list view, or the "State" page with the grid), followed by the repaints it asks
// for: 600 running maps whose processes are live for the CPU sampling, and 2,000 running
// maps without processes. Each iteration first raises every heartbeat, as the map servers
// do once a second, so the maps stay running.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QPainter>
#include <QTabWidget>
#include <QTest>
#include <vector>

#include "../support/TickingClock.h"
#include "ViewsWindow.h"
#include "WindowControls.h"
#include "launch/MapServerLauncher.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "registry/MapServerInfoManager.h"
#include "registry/RecordAccess.h"
#include "views/OwnerDataListModel.h"

namespace {

void BM_RefreshTick(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const bool withProcesses = state.range(1) != 0;
  const bool statePage = state.range(2) != 0;

  ViewsWindow machine("Bench");
  TVemoMapServerManagerMain& window = machine.Start(machine.Lines(count));
  std::vector<tagMapServerData*> records;
  for (int id = 1; id <= count; ++id) records.push_back(&machine.Running(id, (id * 37) % 600, 500));

  MapServerInfoManager& maps = window.Launcher()->Maps();
  int processes = 0;
  if (withProcesses) {
    for (int i = 0; i < maps.GetMapInfoCount(); ++i) {
      platform::ProcessInformation info;
      int errorCode = 0;
      if (!platform::StartProcess("/bin/sleep 600", "", false, &info, &errorCode)) break;
      maps.GetMapInfo(i)->SetProcessInfo(info);
      ++processes;
    }
  }

  // Count what the repaints draw, to show that they happen: grid cells and list cells.
  int64_t cellsDrawn = 0, listCells = 0;
  Control<views::StateGrid>(window, "sgMap")->SetDrawCell([&](int col, int row, QPainter& painter, const QRect& rect) {
    ++cellsDrawn;
    window.sgMapDrawCell(col, row, painter, rect);
  });
  ListModel(window, "lvMaps")->SetCellText([&](int row, int column) {
    ++listCells;
    return window.lvMapsData(row, column);
  });

  window.show();
  Control<QTabWidget>(window, "pcMain")->setCurrentWidget(Control<QWidget>(window, "tsSetting"));
  Control<QTabWidget>(window, "pcView")
      ->setCurrentWidget(statePage ? Control<QWidget>(window, "tsState") : Control<QWidget>(window, "tsTable"));
  QTest::mouseClick(Control<views::StateGrid>(window, "sgMap"), Qt::LeftButton, {},
                    QPoint(5 * 24 + 12, 12));  // lights of map 6
  TickingClock clock;
  platform::SetClockForTesting(&clock);
  for (int warm = 0; warm < 3; ++warm) {
    window.ttTimerTimer();
    QCoreApplication::processEvents();
  }

  cellsDrawn = listCells = 0;
  for (auto _ : state) {
    for (tagMapServerData* data : records) record::Store(data->HeartBeat, 3);
    window.ttTimerTimer();
    QCoreApplication::processEvents();
  }
  platform::SetClockForTesting(nullptr);
  state.counters["maps"] = maps.GetMapInfoCount();
  state.counters["processes"] = processes;
  state.counters["grid_cells/tick"] = static_cast<double>(cellsDrawn) / static_cast<double>(state.iterations());
  state.counters["list_cells/tick"] = static_cast<double>(listCells) / static_cast<double>(state.iterations());

  for (int i = 0; i < maps.GetMapInfoCount(); ++i) {
    const int handle = maps.GetMapInfo(i)->GetProcessInfo().ProcessHandle;
    if (handle != 0 && platform::TerminateProcess(handle, -1)) platform::WaitForProcess(handle, 5000, nullptr);
  }
}
// Arguments: maps, live processes (1) or none (0), "Table" page (0) or "State" page (1).
BENCHMARK(BM_RefreshTick)
    ->ArgNames({"maps", "processes", "state_page"})
    ->Args({600, 1, 0})
    ->Args({600, 1, 1})
    ->Args({2000, 0, 0})
    ->Args({2000, 0, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  EnsureOffscreenApplication();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
