// The manager's loader of the game data component, with the real library and with
// variants that each lack one export.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "components/GameDataComponent.h"
#include "platform/library.h"
#include "support/RecordingLog.h"
#include "support/TestSupport.h"

namespace {

class GameDataComponentTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static TempDir logDir;
    setenv("VEMO_LOG_DIR", logDir.Path().c_str(), 1);
    setenv("VEMO_PELLWYN_SHARE_NAME", UniqueName("PellwynTest").c_str(), 1);
  }
  void TearDown() override { UnloadGameDataComponent(); }
  RecordingLog m_Log;
};

TEST_F(GameDataComponentTest, RealComponentLoadsAndServesItsObjects) {
  EXPECT_EQ(GetSysTableShareData(), nullptr);
  EXPECT_EQ(GetMapFileLoader(), nullptr);
  ASSERT_TRUE(LoadGameDataComponent("Pellwyn.dll"));
  EXPECT_TRUE(m_Log.Lines().empty());

  IPellwyn* pellwyn = GetSysTableShareData();
  ASSERT_NE(pellwyn, nullptr);
  EXPECT_EQ(pellwyn, GetSysTableShareData());
  ASSERT_TRUE(pellwyn->Initialize());
  ASSERT_TRUE(pellwyn->LoadShareData());
  EXPECT_EQ(pellwyn->GetSharePlayerTotal(), 100);
  EXPECT_EQ(pellwyn->GetShareItemTotal(), 8);
  EXPECT_EQ(pellwyn->GetShareHead()->Recreated, 0u);

  IMapFileLoader* loader = GetMapFileLoader();
  ASSERT_NE(loader, nullptr);
  TempDir dir;
  std::string path = dir.Write("MapID.txt", "3 Map Three 1 1 500 0 4 2\n");
  ASSERT_TRUE(loader->LoadMapFile(path.c_str(), 0));
  ASSERT_EQ(loader->GetMapCount(), 1);
  EXPECT_STREQ(loader->GetMapItem(0)->ServerName, "Map");
  EXPECT_EQ(loader->GetMapItem(0)->FBLimit, 4);
  // The component writes to the manager's log: it was handed the way there when loaded.
  EXPECT_TRUE(m_Log.Contains("CMapFileLoader::LoadMapFile " + path + ": 1 maps loaded, 0 lines skipped"));

  UnloadGameDataComponent();
  EXPECT_EQ(GetSysTableShareData(), nullptr);
  EXPECT_EQ(GetMapFileLoader(), nullptr);
}

TEST_F(GameDataComponentTest, MissingLibraryIsReportedWithItsName) {
  EXPECT_FALSE(LoadGameDataComponent("NoSuchGameData.dll"));
  EXPECT_EQ(m_Log.Texts(llError), std::vector<std::string>{"LoadLibrary(NoSuchGameData.dll) failed! Error Code = 126"});
  EXPECT_EQ(GetMapFileLoader(), nullptr);
}

TEST_F(GameDataComponentTest, EachMissingExportFailsWithItsOwnTextAndFreesTheLibrary) {
  const std::pair<const char*, const char*> variants[] = {
      {"GetGameDataPtr", "GetProcAddress() failed! Func name = GetGameDataPtr, Error Code = 127"},
      {"ReleaseGameDataPtr", "GetProcAddress() failed! Func name = ReleaseGameDataPtr, Error Code = 127"},
      {"RegPyInterface", "GetProcAddress() failed!Func name = RegPyInterface, Error Code = 127"},
      {"GetPellwyn", "GetProcessAddress() failed!Func name = GetPellwyn, Error Code = 127"},
      {"FreePellwyn", "GetProcessAddress() failed!Func name = FreePellwyn, Error Code = 127"},
      {"ShareLock", "GetProcAddress() failed!Func name = ShareLock, Error Code = 127"},
      {"ReleaseShareLock", "GetProcAddress failed!Func name = ReleaseShareLock, Erro Code = 127"},
      {"WaitForShareLock", "GetProcAddress() failed!Func name = WaitForShareLock, Error Code = 127"},
      {"GetMapFileLoader", "GetProcAddress() failed!Func name = GetMapFileLoader, Error Code = 127"},
  };
  for (const auto& [export_, text] : variants) {
    m_Log.Clear();
    std::string name = std::string("PellwynNo") + export_ + ".dll";
    EXPECT_FALSE(LoadGameDataComponent(name)) << name;
    EXPECT_EQ(m_Log.Texts(llError), std::vector<std::string>{text}) << name;
    EXPECT_EQ(GetSysTableShareData(), nullptr);
    EXPECT_EQ(GetMapFileLoader(), nullptr);
    std::string file = std::string("libPellwynNo") + export_ + ".so";
    void* stillLoaded = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(stillLoaded, nullptr) << file << " still loaded";
    if (stillLoaded != nullptr) dlclose(stillLoaded);
  }
}

TEST_F(GameDataComponentTest, LoadingAgainReplacesTheLoadedComponent) {
  ASSERT_TRUE(LoadGameDataComponent("Pellwyn.dll"));
  EXPECT_FALSE(LoadGameDataComponent("PellwynNoShareLock.dll"));
  EXPECT_EQ(GetSysTableShareData(), nullptr);
  ASSERT_TRUE(LoadGameDataComponent("Pellwyn.dll"));
  EXPECT_NE(GetMapFileLoader(), nullptr);
}

}  // namespace
