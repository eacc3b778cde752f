// The logging component, loaded for real through the manager's loader.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
  for (std::size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&seen, i] { seen[i] = LogObject(); });
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
  const mode_t umaskBefore = umask(022);
  log->LogInfo("early line");
  umask(umaskBefore);
  ::unsetenv("VEMO_LOG_DIR");
  EXPECT_EQ(std::string(log->LogPath()), logDir + "/");
  EXPECT_NE(ReadFile(logDir + "/" + TodaysLogName("Early")).find("[ Info] early line"), std::string::npos);
  // Logs quote what peers send: the directory and the files are not for every user.
  struct stat st {};
  ASSERT_EQ(stat(logDir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);
  ASSERT_EQ(stat((logDir + "/" + TodaysLogName("Early")).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
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

// The log directory on a small file system of its own that fills up: the lines it cannot
// hold are lost, no line is left cut, and once there is room again the file is tried anew
// and says what it missed. Run in a child with a mount namespace of its own (a user
// namespace too when not root), so the mount is seen by nobody else.
TEST(LogComponentDiskTest, AFullDiskLosesOnlyTheLinesItCouldNotHold) {
  component_test::PreloadComponents();
  ILog* log = LogObject();
  TempDir dir{"vemo-components"};
  const std::string mount = dir / "small";
  ASSERT_EQ(mkdir(mount.c_str(), 0700), 0);
  const std::string copy = dir / "copy";
  const uid_t uid = getuid();
  const gid_t gid = getgid();
  const pid_t child = fork();
  if (child == 0) {
    if (uid != 0) {
      if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) _exit(77);
      WriteFile("/proc/self/setgroups", "deny");
      WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
      WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    } else if (unshare(CLONE_NEWNS) != 0) {
      _exit(77);
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=64k") != 0)
      _exit(77);
    log->SetLogPath(mount.c_str(), "");
    log->SetServerName("Full");
    const std::string filler(3000, 'f');  // a line spans pages, so a full disk cuts it
    log->LogInfo("before %s", filler.c_str());
    const int fill = open((mount + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
    const std::string block(4096, 'x');
    while (write(fill, block.data(), block.size()) > 0) {
    }
    close(fill);
    for (int i = 0; i < 5; ++i) log->LogInfo("lost %d %s", i, filler.c_str());
    unlink((mount + "/filler").c_str());
    log->LogInfo("too early %s", filler.c_str());  // the file is not tried again within the second
    platform::SleepMs(1100);
    log->LogInfo("after %s", filler.c_str());
    log->LogInfo("and on");
    WriteFile(copy, ReadFile(mount + "/" + TodaysLogName("Full")));
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace for a small file system here";
  ASSERT_EQ(WEXITSTATUS(status), 0);
  const std::vector<std::string> lines = SplitLines(ReadFile(copy));
  ASSERT_EQ(lines.size(), 4u) << ReadFile(copy);
  const std::string filler = "f{3000}$";
  EXPECT_TRUE(std::regex_search(lines[0], std::regex(kStamp + R"(\[ Info\] before )" + filler))) << lines[0];
  EXPECT_TRUE(std::regex_search(
      lines[1],
      std::regex(kStamp +
                 R"(\[ Warn\] Tolvar: 6 lines could not be written to the log file between )"
                 R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d and \d{4}-\d\d-\d\d \d\d:\d\d:\d\d \(.*No space left on device\))")))
      << lines[1];
  EXPECT_TRUE(std::regex_search(lines[2], std::regex(kStamp + R"(\[ Info\] after )" + filler))) << lines[2];
  EXPECT_TRUE(std::regex_search(lines[3], std::regex(kStamp + R"(\[ Info\] and on$)"))) << lines[3];
}

}  // namespace
