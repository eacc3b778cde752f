// Helpers of the views tests: a map list of the real game data component, written to a
// temporary file, whose maps open real shared records, and a second mapping of a record
// through which a test writes what a map server would.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>

#include "components/GameDataComponent.h"
#include "interfaces/tagMapServerData.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "registry/AShareStructObj.h"
#include "registry/MapServerInfoManager.h"
#include "registry/RecordAccess.h"
#include "support/OffscreenApplication.h"
#include "support/TestSupport.h"

// One map line of the component's format: id, server, display name, sort key, line,
// capacity, type, FB limit, map manager number.
inline std::string MapLine(int id, const std::string& server, const std::string& name, int fbLimit = 0,
                           int managerNum = 1) {
  return std::to_string(id) + "\t" + server + "\t" + name + "\t" + std::to_string(id) + "\t1\t500\t0\t" +
         std::to_string(fbLimit) + "\t" + std::to_string(managerNum) + "\n";
}

// A map list loaded through the real component, with the records of its maps.
class ViewsMapList : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static TempDir logDir;
    setenv("VEMO_LOG_DIR", logDir.Path().c_str(), 1);
    ASSERT_TRUE(LoadGameDataComponent("Pellwyn.dll"));
    EnsureOffscreenApplication();
  }
  static void TearDownTestSuite() { UnloadGameDataComponent(); }

  void Load(const std::string& lines) { ASSERT_TRUE(m_Maps.LoadMapList(0, m_Dir.Write("MapID.txt", lines), false)); }
  // The map server's view of a map's record: the same segment, mapped a second time.
  tagMapServerData& Record(int mapId) {
    auto mapping =
        std::make_unique<AShareStructObj<tagMapServerData>>(m_Server + "_" + std::to_string(mapId) + "_Config");
    tagMapServerData* data = mapping->GetData();
    m_Mappings.push_back(std::move(mapping));
    if (data == nullptr) throw std::runtime_error("record not mapped");
    return *data;
  }
  MapServerInfo& Map(int mapId) { return *m_Maps.FindMapInfo(mapId); }

  TempDir m_Dir;
  std::string m_Server = UniqueName("Views");
  MapServerInfoManager m_Maps{1};
  std::vector<std::unique_ptr<AShareStructObj<tagMapServerData>>> m_Mappings;
};
