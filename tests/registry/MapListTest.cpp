// The map list built from the real game data component and a map file on disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "components/GameDataComponent.h"
#include "platform/shared_memory.h"
#include "registry/CSharedMem.h"
#include "registry/MapServerInfoManager.h"
#include "support/RecordingLog.h"
#include "support/TestSupport.h"

namespace {

class MapListTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static TempDir logDir;
    setenv("VEMO_LOG_DIR", logDir.Path().c_str(), 1);  // the component's own lines go here
    ASSERT_TRUE(LoadGameDataComponent("Pellwyn.dll"));
  }
  static void TearDownTestSuite() { UnloadGameDataComponent(); }

  // One map line of the component's format.
  std::string Line(int id, const std::string& server, int sortKey, int managerNum, int fbLimit = 0) {
    return std::to_string(id) + "\t" + server + "\t\"Map " + std::to_string(id) + "\"\t" + std::to_string(sortKey) +
           "\t1\t500\t0\t" + std::to_string(fbLimit) + "\t" + std::to_string(managerNum) + "\n";
  }

  std::string Ids(const MapServerInfoManager& manager) {
    std::string out;
    for (int i = 0; i < manager.GetMapInfoCount(); ++i) {
      const MapServerInfo* info = manager.GetMapInfo(i);
      out += "(" + std::to_string(info->GetSortKey()) + "," + std::to_string(info->GetMapData().GetMapID()) + ")";
    }
    return out;
  }

  TempDir m_Dir;
  std::string m_Server = UniqueName("MapList");
};

TEST_F(MapListTest, FiltersByMapManagerNumberAndSortsBySortKeyThenMapId) {
  std::string path =
      m_Dir.Write("MapID.txt", "# test map list\n" + Line(5, m_Server, 2, 1, 8) + Line(9, m_Server, 1, 1) +
                                   Line(3, m_Server, 1, 1) + Line(7, m_Server, 0, 2));
  MapServerInfoManager manager(1);

  ASSERT_TRUE(manager.LoadMapList(1, path, false));
  EXPECT_EQ(Ids(manager), "(1,3)(1,9)(2,5)");
  EXPECT_EQ(manager.GetMapInfo(-1), nullptr);
  EXPECT_EQ(manager.GetMapInfo(manager.GetMapInfoCount()), nullptr);
  EXPECT_EQ(manager.FindMapInfo(7), nullptr);  // another map manager's map

  MapServerInfo* five = manager.FindMapInfo(5);
  ASSERT_NE(five, nullptr);
  EXPECT_EQ(five, manager.GetMapInfo(2));
  EXPECT_EQ(five->GetMapData().GetKey(), m_Server + "_5");
  EXPECT_EQ(five->GetDisplayName(), "Map 5");
  EXPECT_EQ(five->GetFBLimit(), 8);
  EXPECT_EQ(five->GetMapManagerNum(), 1);
  EXPECT_EQ(five->GetActive(), 1);
  EXPECT_EQ(five->GetMapData().m_LastDrawState, 3);
  EXPECT_EQ(five->GetMapData().m_ErrorDay, 0);
  EXPECT_EQ(five->GetProcessCpu(), 0);
  EXPECT_EQ(five->GetMemoryCounters().WorkingSetSize, 0u);
  ASSERT_NE(five->GetShareData(), nullptr);
  EXPECT_EQ(five->GetShareData()->State, 0);

  // The record is the segment "<key>_Config": a map server holding it keeps its data
  // across a reload of the list.
  AShareStructObj<tagMapServerData> mapServer(m_Server + "_5_Config");
  ASSERT_NE(mapServer.GetData(), nullptr);
  mapServer.GetData()->PlayerCnt = 12;
  mapServer.GetData()->Hwnd = 99;
  EXPECT_EQ(five->GetShareData()->PlayerCnt, 12);

  ASSERT_TRUE(manager.LoadMapList(0, path, false));
  EXPECT_EQ(Ids(manager), "(0,7)(1,3)(1,9)(2,5)");
  ASSERT_NE(manager.FindMapInfo(5), nullptr);
  EXPECT_EQ(manager.FindMapInfo(5)->GetShareData()->PlayerCnt, 12);
  EXPECT_EQ(manager.FindMapInfo(5)->GetMapWindow(), 99u);

  ASSERT_TRUE(manager.LoadMapList(42, path, false));
  EXPECT_EQ(manager.GetMapInfoCount(), 0);
  EXPECT_EQ(manager.GetMapInfo(0), nullptr);
}

TEST_F(MapListTest, DuplicateMapIdKeepsTheFirstWithOneDesignLine) {
  RecordingLog log;
  std::string path =
      m_Dir.Write("MapID.txt", Line(5, m_Server + "A", 1, 1) + Line(6, m_Server, 1, 1) + Line(5, m_Server + "B", 0, 1));
  MapServerInfoManager manager(1);
  ASSERT_TRUE(manager.LoadMapList(0, path, false));

  EXPECT_EQ(manager.GetMapInfoCount(), 2);
  ASSERT_NE(manager.FindMapInfo(5), nullptr);
  EXPECT_EQ(manager.FindMapInfo(5)->GetMapData().GetServerName(), m_Server + "A");
  EXPECT_EQ(log.Texts(llDesign), std::vector<std::string>{"Duplicate MapID = 5 in " + path});
}

TEST_F(MapListTest, MapWhoseSegmentCannotBeMappedHasNoRecord) {
  std::string path = m_Dir.Write("MapID.txt", Line(4, m_Server, 1, 1) + Line(8, m_Server, 2, 1));
  // Another holder made the segment too small for a record.
  bool existed = false;
  CSharedMem blocker(m_Server + "_4_Config", 16, existed);
  ASSERT_TRUE(blocker.Valid());

  MapServerInfoManager manager(1);
  ASSERT_TRUE(manager.LoadMapList(0, path, false));
  ASSERT_EQ(manager.GetMapInfoCount(), 2);
  MapServerInfo* four = manager.FindMapInfo(4);
  ASSERT_NE(four, nullptr);
  EXPECT_EQ(four->GetShareData(), nullptr);
  EXPECT_EQ(four->GetMapWindow(), 0u);
  EXPECT_NE(manager.FindMapInfo(8)->GetShareData(), nullptr);
  manager.SampleCpu();
  manager.SampleCpu();
}

TEST_F(MapListTest, MissingFileOrLoaderLeavesAnEmptyList) {
  RecordingLog log;
  std::string path = m_Dir.Write("MapID.txt", Line(4, m_Server, 1, 1));
  MapServerInfoManager manager(1);
  ASSERT_TRUE(manager.LoadMapList(0, path, false));
  ASSERT_EQ(manager.GetMapInfoCount(), 1);

  EXPECT_FALSE(manager.LoadMapList(0, m_Dir.Path() + "NoSuch.txt", false));
  EXPECT_EQ(manager.GetMapInfoCount(), 0);
  EXPECT_EQ(manager.FindMapInfo(4), nullptr);

  EXPECT_FALSE(manager.LoadMapList(nullptr, 0, path, false));
  EXPECT_EQ(manager.GetMapInfoCount(), 0);
  EXPECT_TRUE(log.Contains("MapServerInfoManager::LoadMapList no map file loader, " + path + " not loaded"));
}

// A loader that hands out the items it is given, so a test can offer items the real
// component never produces.
class ListLoader : public IMapFileLoader {
 public:
  explicit ListLoader(std::vector<tagMapItem> items) : m_Items(std::move(items)) {}
  void Clear() override { m_Items.clear(); }
  const char* GetMapFilePath() override { return ""; }
  tagMapItem* FindMapItem(int) override { return nullptr; }
  int GetErrorCount() override { return 0; }
  const char* GetLastErrorText() override { return ""; }
  bool IsDebugLoad() override { return false; }
  int GetMapCount() override { return static_cast<int>(m_Items.size()); }
  tagMapItem* GetMapItem(int index) override { return &m_Items.at(static_cast<std::size_t>(index)); }
  bool LoadMapFile(const char*, int) override { return true; }

 private:
  std::vector<tagMapItem> m_Items;
};

TEST(MapServerInfoManagerTest, EmptyServerNameBuildsItsKeyAndOnlyANullNameIsSkipped) {
  RecordingLog log;
  // Ids from the process id, so the records ("_<id>_Config") are this test's own.
  const int emptyId = static_cast<int>(platform::CurrentProcessId());
  const int nullId = emptyId + 1;
  ListLoader loader({{"", emptyId, "Nameless", 1, 1, 500, 0, 0, 1}, {nullptr, nullId, "Null", 2, 1, 500, 0, 0, 1}});
  MapServerInfoManager manager(1);
  ASSERT_TRUE(manager.LoadMapList(&loader, 0, "list", false));

  ASSERT_EQ(manager.GetMapInfoCount(), 1);
  MapServerInfo* nameless = manager.FindMapInfo(emptyId);
  ASSERT_NE(nameless, nullptr);
  EXPECT_EQ(nameless->GetMapData().GetKey(), "_" + std::to_string(emptyId));
  ASSERT_NE(nameless->GetShareData(), nullptr);
  // The record is the segment of that key: a map server opening it meets the manager.
  AShareStructObj<tagMapServerData> mapServer("_" + std::to_string(emptyId) + "_Config");
  ASSERT_NE(mapServer.GetData(), nullptr);
  mapServer.GetData()->PlayerCnt = 3;
  EXPECT_EQ(nameless->GetShareData()->PlayerCnt, 3);

  EXPECT_EQ(manager.FindMapInfo(nullId), nullptr);
  ASSERT_EQ(log.Texts(llError).size(), 1u);
  EXPECT_NE(log.Texts(llError)[0].find(std::to_string(nullId)), std::string::npos) << log.Texts(llError)[0];
}

// A peer shrinks a map's record segment under the manager, beyond mending (no file of the
// process may grow): the refresh tick's report names the fault once and the map whose view
// was cut off once, however often it runs. 0 when it did; otherwise the step that failed.
int ShrinkRecordUnderTheManager() {
  RecordingLog log;
  const int id = static_cast<int>(platform::CurrentProcessId());
  ListLoader loader({{"Shrunk", id, "Shrunk", 1, 1, 500, 0, 0, 1}});
  MapServerInfoManager manager(1);
  if (!manager.LoadMapList(&loader, 0, "list", false)) return 1;
  volatile tagMapServerData* record = manager.GetMapInfo(0)->GetShareData();
  if (record == nullptr || manager.ReportSharedMemoryFaults() != 0) return 2;
  const std::string name = platform::SharedMemoryObjectName("Shrunk_" + std::to_string(id) + "_Config");
  const int peer = shm_open(name.c_str(), O_RDWR, 0);
  if (peer < 0 || ftruncate(peer, 0) != 0) return 3;
  close(peer);
  signal(SIGXFSZ, SIG_IGN);
  rlimit none{0, 0};  // the record is smaller than a page: no file may grow at all
  if (setrlimit(RLIMIT_FSIZE, &none) != 0) return 4;
  if (record->PlayerCnt != 0) return 5;  // faults: the view is cut off
  if (manager.ReportSharedMemoryFaults() != 1 || manager.ReportSharedMemoryFaults() != 0) return 6;
  const auto errors = log.Texts(llError);
  if (errors.size() != 2 || errors[1].find("MapID = " + std::to_string(id)) == std::string::npos) return 7;
  return 0;
}

TEST(SharedMemoryFaultTest, RecordShrunkUnderTheManagerIsReportedOnce) {
  EXPECT_EXIT(std::_Exit(ShrinkRecordUnderTheManager()), ::testing::ExitedWithCode(0), "");
}

TEST(MapServerInfoManagerTest, OneInstancePerProcess) {
  EXPECT_EQ(&GetMapServerInfoManager(), &GetMapServerInfoManager());
  EXPECT_EQ(GetMapServerInfoManager().GetProcessorCount(), platform::ProcessorCount());
}

}  // namespace
