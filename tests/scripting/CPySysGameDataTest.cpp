// The system data bridge against the real component, a variant without its release
// export, a missing file, a directory in its place and a file that cannot be loaded.
#include <gtest/gtest.h>

#include "ScriptTestSupport.h"
#include "scripting/CPySysGameData.h"

using namespace scripting_test;

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

TEST(PySysGameData, MissingComponentSwitchesTheBridgeOff) {
  RecordingLog log;
  TempDir dir;
  std::string path = dir / "Script/_Selvane.pyd";
  {
    CPySysGameData bridge(path);
    EXPECT_FALSE(bridge.IsLoaded());
    bridge.InitPyData();
  }
  std::vector<std::string> expected = {path + " not exist. Pysysdb will be not open."};
  EXPECT_EQ(log.Texts(llInfo), expected);
  EXPECT_EQ(log.Lines().size(), 1u) << "start-up goes on with one info line";
}

TEST(PySysGameData, DirectoryNamedLikeTheComponentCountsAsMissing) {
  RecordingLog log;
  TempDir dir;
  std::filesystem::create_directories(dir / "Script/_Selvane.so");
  std::string path = dir / "Script/_Selvane.pyd";
  CPySysGameData bridge(path);
  EXPECT_FALSE(bridge.IsLoaded());
  EXPECT_EQ(log.Texts(llInfo), std::vector<std::string>{path + " not exist. Pysysdb will be not open."});
  EXPECT_TRUE(log.Texts(llFatal).empty());
}

TEST(PySysGameData, ComponentIsInitialisedOnEachLoadAndReleasedOnce) {
  RecordingLog log;
  {
    CPySysGameData bridge(VEMO_BIN_DIR "MapServerData/Script/_Selvane.pyd");
    ASSERT_TRUE(bridge.IsLoaded());
    EXPECT_TRUE(log.Lines().empty()) << "every export is found";
    bridge.InitPyData();
    bridge.InitPyData();
  }
  std::vector<std::string> info = log.Texts(llInfo);
  ASSERT_EQ(info.size(), 3u);
  EXPECT_TRUE(StartsWith(info[0], "PyData_Init: ")) << info[0];
  EXPECT_TRUE(StartsWith(info[1], "PyData_Init: ")) << info[1];
  EXPECT_TRUE(StartsWith(info[2], "PyData_Release: ")) << info[2];
}

TEST(PySysGameData, ComponentWithoutReleaseIsClosedWithoutCallingIt) {
  RecordingLog log;
  {
    CPySysGameData bridge(VEMO_SYSDATA_VARIANT);
    ASSERT_TRUE(bridge.IsLoaded());
    EXPECT_EQ(log.Texts(llFatal), std::vector<std::string>{"Get PyData_Release fucntion address fail!"});
    bridge.InitPyData();
  }
  EXPECT_EQ(log.Texts(llInfo), std::vector<std::string>{"variant PyData_Init"});
  EXPECT_EQ(log.Lines().size(), 2u);
}

// The process ends at start-up's word (exit code -1); the bridge only says why and reports it.
TEST(PySysGameData, ComponentThatCannotBeLoadedIsReportedAsFailed) {
  RecordingLog log;
  TempDir dir;
  WriteFile(dir / "Script/_Selvane.so", "not a library");
  std::string path = dir / "Script/_Selvane.pyd";
  CPySysGameData bridge(path);
  EXPECT_TRUE(bridge.LoadFailed());
  EXPECT_FALSE(bridge.IsLoaded());
  EXPECT_EQ(log.Texts(llFatal), std::vector<std::string>{"Load DLL " + path + " fail!"});
  bridge.InitPyData();  // a failed bridge is inert
}

}  // namespace
