// A started main window in this process on a machine of its own, with a map list whose maps
// open real shared records, for the tests and pictures of the monitoring views. A test
// plays the map servers by writing into the records through mappings of its own.
#pragma once

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ManagerMachine.h"
#include "WindowControls.h"
#include "app/TVemoMapServerManagerMain.h"
#include "interfaces/tagMapServerData.h"
#include "platform/crash_report.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "registry/AShareStructObj.h"
#include "support/OffscreenApplication.h"
#include "support/RecordingLog.h"
#include "views/StateGrid.h"

// A log whose last fatal time the test sets.
class FatalTimeLog : public RecordingLog {
 public:
  double GetLastFatalErrorTime() override { return lastFatalTime; }
  double lastFatalTime = 0;
};

class ViewsWindow {
 public:
  // `name` keeps the instance sign, the share data and the map records of one test apart.
  explicit ViewsWindow(const std::string& name) {
    EnsureOffscreenApplication();
    platform::InstallCrashReporting(QDir::tempPath().toStdString() + "/");
    platform::RaiseOpenFileLimit();
    unsetenv("VEMO_UNATTENDED");
    setenv("VEMO_LOG_DIR", m_Machine.LogDir().c_str(), 1);
    const std::string unique = name + std::to_string(getpid());
    setenv("VEMO_PELLWYN_SHARE_NAME", ("ViewsShare" + unique).c_str(), 1);
    platform::SetExeDirForTesting(m_Machine.Dir());
    platform::SetDialogs(&m_Dialogs);
    m_Sign = "ViewsSign" + unique;
    server = "V" + unique;
  }
  ~ViewsWindow() {
    m_Window.reset();
    m_Mappings.clear();
    platform::SetDialogs(nullptr);
    platform::SetExeDirForTesting("");
    unsetenv("VEMO_LOG_DIR");
    unsetenv("VEMO_PELLWYN_SHARE_NAME");
  }

  // One map line: map id, display name (the sort key is the map id, so list position n
  // shows the n-th smallest id), capacity, FB limit, map manager number 1.
  std::string Line(int id, const std::string& name, int fbLimit = 0) const {
    return std::to_string(id) + "\t" + server + "\t" + name + "\t" + std::to_string(id) + "\t1\t500\t0\t" +
           std::to_string(fbLimit) + "\t1\n";
  }
  // Maps 1..count named "Map<id>".
  std::string Lines(int count) const {
    std::string lines;
    for (int id = 1; id <= count; ++id) lines += Line(id, "Map" + std::to_string(id));
    return lines;
  }

  // Writes the map list and the configuration, starts the window up and loads the list as
  // "SaveApply" does.
  TVemoMapServerManagerMain& Start(const std::string& mapLines, const std::string& keys = "") {
    WriteMapList(mapLines);
    m_Machine.WriteIni("[MapManager]\nedtMutexSign=" + m_Sign + "\n" + keys);
    m_Window = std::make_unique<TVemoMapServerManagerMain>();
    const auto outcome = m_Window->FormCreate({});
    if (outcome.kind != TVemoMapServerManagerMain::StartupOutcome::Kind::Running)
      throw std::runtime_error("start-up did not finish");
    m_Window->btApplyClick();
    return *m_Window;
  }
  // Rewrites the map list and loads it again ("SaveApply").
  void Reload(const std::string& mapLines) {
    WriteMapList(mapLines);
    m_Window->btApplyClick();
  }
  void WriteMapList(const std::string& mapLines) const {
    std::ofstream(m_Machine.Dir() + "MapServerData/Map/MapID.txt", std::ios::binary) << mapLines;
  }

  // The map server's side of a map's record.
  tagMapServerData& Record(int mapId) {
    auto mapping =
        std::make_unique<AShareStructObj<tagMapServerData>>(server + "_" + std::to_string(mapId) + "_Config");
    tagMapServerData* data = mapping->GetData();
    if (data == nullptr) throw std::runtime_error("record not mapped");
    m_Mappings.push_back(std::move(mapping));
    return *data;
  }
  // A running map at a load: players of capacity.
  tagMapServerData& Running(int mapId, int32_t players, int32_t capacity) {
    tagMapServerData& record = Record(mapId);
    record.State = msRunning;
    record.HeartBeat = 3;
    record.PlayerCnt = players;
    record.MaxPlayerCnt = capacity;
    return record;
  }

  TVemoMapServerManagerMain& Window() { return *m_Window; }
  // A picture of the whole grid, drawn as a repaint draws it.
  QImage Grid() { return Control<views::StateGrid>(*m_Window, "sgMap")->grab().toImage(); }
  // The colour in the middle of the cell that shows list position n.
  static QColor CellColour(const QImage& grid, int position) {
    const int col = position % views::StateGrid::kColCount, row = position / views::StateGrid::kColCount;
    return grid.pixelColor(col * 24 + 12, row * 24 + 12);
  }

  ManagerMachine& Machine() { return m_Machine; }
  FatalTimeLog log;
  std::string server;

 private:
  ManagerMachine m_Machine;
  platform::ScriptedDialogs m_Dialogs;
  std::string m_Sign;
  std::unique_ptr<TVemoMapServerManagerMain> m_Window;
  std::vector<std::unique_ptr<AShareStructObj<tagMapServerData>>> m_Mappings;
};
