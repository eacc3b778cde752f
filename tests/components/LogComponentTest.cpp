// The logging component, loaded for real through the manager's loader.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <thread>

#include "ComponentTestSupport.h"
#include "common/Utils.h"
#include "components/LogComponent.h"
#include "platform/clock.h"

namespace {

using component_test::TodaysLogName;

const std::string kStamp = R"(^\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\])";

class LogComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.PathWithoutSlash().empty());
    component_test::PreloadComponents();
    log = LogObject();
    ASSERT_NE(log, nullptr);
    log->SetLogPath(dir.PathWithoutSlash().c_str(), "");
    log->SetServerName("UnitServer");
  }
  std::string TodaysFile() { return ReadFile(dir / TodaysLogName("UnitServer")); }

  TempDir dir{"vemo-components"};
  ILog* log = nullptr;
};

TEST_F(LogComponentTest, LinesCarryTimeLevelNameAndText) {
  EXPECT_EQ(LogObject(), log);  // one object for the process
  EXPECT_EQ(std::string(log->LogPath()), dir.PathWithoutSlash() + "/");
  EXPECT_EQ(std::string(log->ErrorLogPath()), dir.PathWithoutSlash() + "/");

  log->LogInfo("value %d of %s", 5, "MapA");
  log->TraceWarn("warned");
  log->LogDesign("design");
  log->TraceNomal("plain");
  log->LogError(nullptr);  // an absent format writes an empty text, never a crash
  std::vector<std::string> lines = SplitLines(TodaysFile());
  ASSERT_EQ(lines.size(), 5u) << TodaysFile();
  EXPECT_TRUE(std::regex_search(lines[0], std::regex(kStamp + R"(\[ Info\] value 5 of MapA$)"))) << lines[0];
  EXPECT_TRUE(std::regex_search(lines[1], std::regex(kStamp + R"(\[ Warn\] warned$)"))) << lines[1];
  EXPECT_TRUE(std::regex_search(lines[2], std::regex(kStamp + R"(\[Design\] design$)"))) << lines[2];
  EXPECT_TRUE(std::regex_search(lines[3], std::regex(kStamp + R"(\[Nomal\] plain$)"))) << lines[3];
  EXPECT_TRUE(std::regex_search(lines[4], std::regex(kStamp + R"(\[Error\] $)"))) << lines[4];
}

TEST_F(LogComponentTest, ScriptTextIsWrittenUnchanged) {
  // GBK bytes and printf directives pass through as they are.
  const std::string text = "\xD6\xD0\xCE\xC4 %s %d 100%";
  log->ScriptOutput(0, (text + "\n").c_str());
  log->ScriptOutput(0, "\n");  // a bare line end adds nothing
  log->ScriptError(0, "Traceback: boom");
  std::string file = TodaysFile();
  std::vector<std::string> lines = SplitLines(file);
  ASSERT_EQ(lines.size(), 2u) << file;
  EXPECT_EQ(lines[0].substr(25), "[Script] " + text);
  EXPECT_EQ(lines[1].substr(25), "[ScriptErr] Traceback: boom");
}

TEST_F(LogComponentTest, FatalCountAndTime) {
  // A fresh object has no fatal line.
  ReleaseLogObject();
  log = LogObject();
  log->SetLogPath(dir.PathWithoutSlash().c_str(), "");
  EXPECT_EQ(log->GetFatalErrorCount(), 0);
  EXPECT_EQ(log->GetLastFatalErrorTime(), 0.0);

  log->LogError("not fatal");
  EXPECT_EQ(log->GetFatalErrorCount(), 0);
  double before = platform::NowAsDateTime();
  log->LogFatal("first");
  log->TraceFatal("second");
  double after = platform::NowAsDateTime();
  EXPECT_EQ(log->GetFatalErrorCount(), 2);
  const double oneSecond = 1.0 / 86400;
  EXPECT_GE(log->GetLastFatalErrorTime(), before - oneSecond);
  EXPECT_LE(log->GetLastFatalErrorTime(), after + oneSecond);
}

TEST_F(LogComponentTest, TwoThreadsWriteWholeLines) {
  constexpr int kPerThread = 2000;
  auto writer = [this](const char* name) {
    for (int i = 0; i < kPerThread; ++i) log->LogInfo("%s %d", name, i);
  };
  std::thread a(writer, "A");
  std::thread b(writer, "B");
  a.join();
  b.join();
  std::set<std::string> seen;
  std::regex shape(kStamp + R"(\[ Info\] ([AB] \d+)$)");
  for (const std::string& line : SplitLines(TodaysFile())) {
    std::smatch match;
    ASSERT_TRUE(std::regex_search(line, match, shape)) << line;
    EXPECT_TRUE(seen.insert(match[1]).second) << "twice: " << line;
  }
  EXPECT_EQ(seen.size(), 2u * kPerThread);
}

TEST_F(LogComponentTest, FirstUseFromSeveralThreadsGivesOneObject) {
  ReleaseLogObject();  // the next LogObject() asks the component afresh
  std::vector<ILog*> seen(4, nullptr);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i)
    threads.emplace_back([&seen, i] { seen[i] = LogObject(); });
  for (auto& thread : threads) thread.join();
  ASSERT_NE(seen[0], nullptr);
  for (ILog* each : seen) EXPECT_EQ(each, seen[0]);
}

TEST_F(LogComponentTest, ServerNameAndSubdirectoryNameTheFile) {
  log->SetLogPath((dir.PathWithoutSlash() + "/").c_str(), "sub");
  log->SetServerName("Other/Name");  // no directory separators in a file name
  log->LogWarn("into the subdirectory");
  EXPECT_EQ(std::string(log->LogPath()), dir.PathWithoutSlash() + "/sub/");
  std::string file = ReadFile(dir / ("sub/" + TodaysLogName("Other_Name")));
  EXPECT_NE(file.find("[ Warn] into the subdirectory"), std::string::npos);
}

TEST(LogComponentDefaultsTest, BeforeSetLogPathLinesGoToTheLogDirectory) {
  component_test::PreloadComponents();
  TempDir dir{"vemo-components"};
  std::string logDir = dir / "not/yet/there";
  ::setenv("VEMO_LOG_DIR", logDir.c_str(), 1);
  ReleaseLogObject();  // the next object starts from the environment
  ILog* log = LogObject();
  log->SetServerName("Early");
  log->LogInfo("early line");
  ::unsetenv("VEMO_LOG_DIR");
  EXPECT_EQ(std::string(log->LogPath()), logDir + "/");
  EXPECT_NE(ReadFile(logDir + "/" + TodaysLogName("Early")).find("[ Info] early line"), std::string::npos);
}

TEST(LogComponentDefaultsTest, UnwritableDirectoryFallsBackToStandardError) {
  component_test::PreloadComponents();
  ILog* log = LogObject();
  log->SetLogPath("/proc/vemo-cannot-exist", "");
  ::testing::internal::CaptureStderr();
  log->LogInfo("kept on stderr");
  log->LogInfo("still kept");
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("cannot open the log file"), std::string::npos) << err;
  EXPECT_NE(err.find("[ Info] kept on stderr"), std::string::npos) << err;
  EXPECT_NE(err.find("[ Info] still kept"), std::string::npos) << err;
}

}  // namespace
