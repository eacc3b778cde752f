// The start-up checks (environment dump, integrity check, no-execute and run-time checks)
// and the old-log clean-up. Paths that end the process run in a forked child (death
// tests) with unattended dialogs, whose boxes go to standard error.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/Utils.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "runtime/CodePage.h"
#include "runtime/EnvironmentChecks.h"
#include "support/RecordingLog.h"
#include "support/TestSupport.h"

namespace {

// Also writes error and fatal lines to standard error, where a death test can see them.
class EchoingLog : public RecordingLog {
 public:
  void LogError(const char* format, ...) override {
    va_list args;
    va_start(args, format);
    Echo("LogError", format, args);
    va_end(args);
  }
  void LogFatal(const char* format, ...) override {
    va_list args;
    va_start(args, format);
    Echo("LogFatal", format, args);
    va_end(args);
  }

 private:
  static void Echo(const char* level, const char* format, va_list args) {
    std::string text = FormatTextV(format, args);
    std::fprintf(stderr, "[%s] %s\n", level, text.c_str());
    std::fflush(stderr);
  }
};

class BootClock : public platform::Clock {
 public:
  uint64_t uptime = 1000;
  uint64_t MillisecondsSinceBoot() override { return uptime; }
};

// Escapes a text for the regular expressions of death tests.
std::string Literal(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

// A file with its permission bits (a program or not).
void WriteProgram(const std::string& path, const std::string& text, mode_t mode) {
  WriteFile(path, text);
  chmod(path.c_str(), mode);
}

void SetAge(const std::string& path, long seconds) {
  timeval times[2];
  times[0].tv_sec = times[1].tv_sec = std::time(nullptr) - seconds;
  times[0].tv_usec = times[1].tv_usec = 0;
  ASSERT_EQ(utimes(path.c_str(), times), 0) << path;
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

constexpr long kDay = 86400;

class EnvironmentChecksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("VEMO_UNATTENDED");
    ASSERT_FALSE(m_Dir.empty());
    platform::SetDialogs(&m_Dialogs);
    platform::SetClockForTesting(&m_Clock);
    setenv("VEMO_SYSTEM_ROOT", m_Dir.c_str(), 1);
  }
  void TearDown() override {
    platform::SetDialogs(nullptr);
    platform::SetClockForTesting(nullptr);
    platform::SetExeDirForTesting("");
    unsetenv("VEMO_SYSTEM_ROOT");
  }

  // A blank in the path keeps every quoted item of a command line honest.
  TempDir m_Made{"vemo env"};
  const std::string m_Dir = m_Made.Path();
  EchoingLog m_Log;
  platform::ScriptedDialogs m_Dialogs;
  BootClock m_Clock;
};

// What the run-time warning reads for a number of days, as the operator sees it.
std::string RunTimeWarning(int days) {
  return FormatText(
      "---Vemo Server Max RunTime = 24 Days---!\r\n"
      "Server Already Run %d Days, Need To Restart Windows To Run Safely!\r\n"
      "服务器已经运行了 %d 天, 需要重启Windows之后才可以正常运行!\r\n"
      "服務器已經運行了 %d 天, 需要重啟Windows之后才可以正常運行!\r\n",
      days, days, days);
}

TEST_F(EnvironmentChecksTest, RunTimeWarningFromDay23UntilTheTimerSumWrapsToZero) {
  struct Case {
    uint64_t uptime;
    int days;  // 0: silent
  } cases[] = {
      {1000, 0},        {1974683647, 0},
      {1974683648, 23}, {4122167296, 48},                    // the sum is exactly 0, which is not greater than 0
      {4122167297, 0},  {(1ULL << 32) + 1974683648ULL, 23},  // the timer is 32 bits wide and wraps
  };
  for (const Case& c : cases) {
    m_Dialogs.records.clear();
    m_Clock.uptime = c.uptime;
    EXPECT_TRUE(ServerRunTimeCheck()) << c.uptime;
    if (c.days == 0) {
      EXPECT_TRUE(m_Dialogs.records.empty()) << c.uptime;
      continue;
    }
    ASSERT_EQ(m_Dialogs.records.size(), 1u) << c.uptime;
    EXPECT_EQ(m_Dialogs.records[0].kind, "Message");
    EXPECT_EQ(m_Dialogs.records[0].text, RunTimeWarning(c.days)) << c.uptime;
  }
  EXPECT_EQ(m_Log.Texts(llInfo).front(), "ServerRunTimeCheck()");
}

TEST_F(EnvironmentChecksTest, DEPCheckReadsBootIni) {
  const std::string bootIni = m_Dir + "Boot.ini";
  const std::string question =
      "DEP Is Activate, Server May Not Run Normally! Continue Run?\r\n"
      "系统DEP已启用,服务器可能不能正常运行!是否继续运行?\r\n"
      "[My Computer->Propertise->Advaced->Performance Settings->Data Excution Prevention. Choose First!]\r\n";

  // Missing: a message naming the path, and no go.
  EXPECT_FALSE(DEPCheck());
  ASSERT_EQ(m_Dialogs.records.size(), 1u);
  EXPECT_EQ(m_Dialogs.records[0].kind, "Message");
  EXPECT_EQ(m_Dialogs.records[0].text, "Can't Find Dir : " + bootIni);
  EXPECT_FALSE(m_Log.Contains("ServerRunTimeCheck()"));

  // A directory of that name is no file: missing too.
  m_Dialogs.records.clear();
  ASSERT_EQ(mkdir(bootIni.c_str(), 0755), 0);
  EXPECT_FALSE(DEPCheck());
  ASSERT_EQ(m_Dialogs.records.size(), 1u);
  EXPECT_EQ(m_Dialogs.records[0].text, "Can't Find Dir : " + bootIni);
  rmdir(bootIni.c_str());

  // There but unreadable (a socket cannot be opened, not even by root): the reason is
  // shown and the run-time check still decides.
  m_Dialogs.records.clear();
  m_Log.Clear();
  {
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(bootIni.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, bootIni.c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(sock);
  }
  EXPECT_TRUE(DEPCheck());
  ASSERT_EQ(m_Dialogs.records.size(), 1u);
  EXPECT_EQ(m_Dialogs.records[0].kind, "Message");
  EXPECT_EQ(m_Dialogs.records[0].text.rfind("Cannot open file \"" + bootIni + "\". ", 0), 0u)
      << m_Dialogs.records[0].text;
  EXPECT_EQ(m_Log.Texts(llInfo), (std::vector<std::string>{"DEPCheck()", "ServerRunTimeCheck()"}));
  unlink(bootIni.c_str());

  // The switch in any mix of case passes without a question, and the run-time check runs.
  m_Dialogs.records.clear();
  WriteFile(bootIni, "[operating systems]\r\nmulti(0)=\"Windows\" /NoExecute=OptIn /fastdetect\r\n");
  m_Clock.uptime = 1974683648;
  EXPECT_TRUE(DEPCheck());
  ASSERT_EQ(m_Dialogs.records.size(), 1u);
  EXPECT_EQ(m_Dialogs.records[0].text, RunTimeWarning(23));
  EXPECT_EQ(m_Log.Texts(llInfo).back(), "ServerRunTimeCheck()");

  // Without the switch the operator is asked; OK goes on, Cancel stops.
  m_Clock.uptime = 1000;
  WriteFile(bootIni, "[operating systems]\r\nmulti(0)=\"Windows\" /noexecute=alwayson\r\n");
  m_Dialogs.records.clear();
  m_Dialogs.answers = {true};
  EXPECT_TRUE(DEPCheck());
  ASSERT_EQ(m_Dialogs.records.size(), 1u);
  EXPECT_EQ(m_Dialogs.records[0].kind, "Ask");
  EXPECT_EQ(m_Dialogs.records[0].caption, "Close Ask");
  EXPECT_EQ(m_Dialogs.records[0].text, question);

  m_Log.Clear();
  m_Dialogs.records.clear();
  m_Dialogs.answers = {false};
  EXPECT_FALSE(DEPCheck());
  EXPECT_EQ(m_Dialogs.records.size(), 1u);
  EXPECT_EQ(m_Log.Texts(llInfo), (std::vector<std::string>{"DEPCheck()"}));
}

TEST_F(EnvironmentChecksTest, TheBuildsBootIniAllowsTheStart) {
  setenv("VEMO_SYSTEM_ROOT", VEMO_BIN_DIR, 1);
  EXPECT_TRUE(DEPCheck());
  EXPECT_TRUE(m_Dialogs.records.empty());
}

TEST_F(EnvironmentChecksTest, ClearOldLogsDeletesOnlyWeekOldLogsOfItsDirectory) {
  const std::string logs = m_Dir + "logs";
  ASSERT_EQ(mkdir(logs.c_str(), 0755), 0);
  struct File {
    std::string name;
    long age;
    bool deleted;
  } files[] = {
      {"logs/old.log", 8 * kDay, true},
      {"logs/.hidden.log", 30 * kDay, true},
      {"logs/recent.log", 7 * kDay + 5 * 3600, false},
      {"logs/today.log", 0, false},
      {"logs/future.log", -30 * kDay, false},
      {"logs/old.txt", 8 * kDay, false},
      {"logs/old.log.bak", 8 * kDay, false},
      // The mask matches without regard to case, as the operator's platform always did.
      {"logs/OLD.LOG", 8 * kDay, true},
      {"logs/Mixed.Log", 8 * kDay, true},
      // Where "directory + name" would point if the separator were left out.
      {"logsold.log", 8 * kDay, false},
  };
  for (const File& f : files) {
    WriteFile(m_Dir + f.name, "line\n");
    SetAge(m_Dir + f.name, f.age);
  }
  ASSERT_EQ(mkdir((logs + "/archive.log").c_str(), 0755), 0);
  SetAge(logs + "/archive.log", 9 * kDay);

  std::vector<std::string> listed;
  EXPECT_EQ(ListOldFiles(logs + "/", "*.txt", listed, 7), 1);
  EXPECT_EQ(listed, (std::vector<std::string>{"old.txt"}));

  // Given without its trailing separator.
  EXPECT_EQ(ClearOldLogs(logs), 4);
  for (const File& f : files) EXPECT_EQ(Exists(m_Dir + f.name), !f.deleted) << f.name;
  EXPECT_TRUE(Exists(logs + "/archive.log"));
  EXPECT_EQ(ClearOldLogs(logs + "/"), 0);
  EXPECT_EQ(ClearOldLogs(m_Dir + "no such directory/"), 0);
}

TEST_F(EnvironmentChecksTest, TheCleanUpWorkerClearsOnItsFirstCallOnly) {
  m_Log.m_LogPath = m_Dir;
  WriteFile(m_Dir + "a.log", "x");
  SetAge(m_Dir + "a.log", 10 * kDay);
  bool ran = false;
  EXPECT_EQ(ClearLastWeekLogWork(&ran, 1), 1);
  EXPECT_TRUE(ran);
  EXPECT_FALSE(Exists(m_Dir + "a.log"));
  WriteFile(m_Dir + "b.log", "x");
  SetAge(m_Dir + "b.log", 10 * kDay);
  EXPECT_EQ(ClearLastWeekLogWork(&ran, 1), 1);
  EXPECT_TRUE(Exists(m_Dir + "b.log"));
}

TEST_F(EnvironmentChecksTest, EnvironmentDumpRunsTheRealToolIntoTheLogFolder) {
  std::string copy = "cp '" VEMO_BIN_DIR "Gavrock' '" + m_Dir + "Gavrock'";
  ASSERT_EQ(std::system(copy.c_str()), 0);
  platform::SetExeDirForTesting(m_Dir);
  EXPECT_TRUE(RunEnvironmentDump(m_Dir + "Server Log/Sub/"));
  std::string report = ReadFile(m_Dir + "Server Log/Sub/EnvInfo.log");
  EXPECT_NE(report.find("[Processors]"), std::string::npos) << report;
  EXPECT_NE(report.find("Path=" + m_Dir + "runtime_env_tests\n"), std::string::npos) << report;
  std::vector<std::string> info = m_Log.Texts(llInfo);
  ASSERT_EQ(info.size(), 3u);
  EXPECT_EQ(info[0], "Begin dump environment info!");
  EXPECT_EQ(info[1], std::string(91, '-'));
  EXPECT_EQ(info[2], "End dump environment info!");
  EXPECT_TRUE(m_Log.Texts(llError).empty());
}

TEST_F(EnvironmentChecksTest, EnvironmentDumpPassesThreeQuotedItems) {
  // A stand-in tool that writes each argument it receives on a line of its own.
  WriteProgram(m_Dir + "Gavrock", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args.txt\"\nexit 0\n", 0755);
  platform::SetExeDirForTesting(m_Dir);
  EXPECT_TRUE(RunEnvironmentDump(m_Dir + "Server Log/"));
  EXPECT_EQ(ReadFile(m_Dir + "args.txt"),
            "/ep:" + m_Dir + "runtime_env_tests\n/lfp:" + m_Dir + "Server Log/EnvInfo.log\n");
  EXPECT_TRUE(Exists(m_Dir + "Server Log"));
}

// Runs RunEnvironmentDump in a child without a terminal and expects it to report the
// failure, with the text both in the error line and in the box.
void ExpectDumpFailure(const std::string& logDir, const std::string& text) {
  std::string expected = Literal("[LogError] " + text) + ".*" + Literal("[ErrorBox] Check EvnInfoError: " + text);
  EXPECT_EXIT(
      {
        setenv("VEMO_UNATTENDED", "ok", 1);
        (void)!std::freopen("/dev/null", "r", stdin);
        std::_Exit(RunEnvironmentDump(logDir) ? 0 : 1);
      },
      ::testing::ExitedWithCode(1), expected);
}

TEST_F(EnvironmentChecksTest, EnvironmentDumpFailuresAreReported) {
  platform::SetExeDirForTesting(m_Dir);
  ExpectDumpFailure(m_Dir + "logs/", "Can't find file: " + m_Dir + "Gavrock.exe");

  WriteProgram(m_Dir + "Gavrock", "#!/bin/sh\nexit 3\n", 0755);
  ExpectDumpFailure(m_Dir + "logs/", "Check environment faild, Gavrock exit code = 3");

  WriteFile(m_Dir + "plain file", "");
  ExpectDumpFailure(m_Dir + "plain file/logs/",
                    "Create directory failed, path = " + m_Dir + "plain file/logs, last err = 20");

  // A tool that is there but cannot be executed.
  WriteProgram(m_Dir + "Gavrock", "not a program", 0644);
  std::string commandLine =
      "\"" + m_Dir + "Gavrock.exe\" \"/ep:" + m_Dir + "runtime_env_tests\" \"/lfp:" + m_Dir + "logs/EnvInfo.log\"";
  ExpectDumpFailure(m_Dir + "logs/", "Create DumpApp failed! GetLastError() = 13, CmdLine = " + commandLine);

  // A command line longer than its 780 bytes.
  WriteProgram(m_Dir + "Gavrock", "#!/bin/sh\nexit 0\n", 0755);
  std::string deep = m_Dir;
  for (int i = 0; i < 4; ++i) deep += std::string(200, 'L') + "/";
  ExpectDumpFailure(deep + "logs/", "Format cmdline failed, maybe buff overflow, errno = 34");
}

TEST_F(EnvironmentChecksTest, IntegrityCheck) {
  platform::SetExeDirForTesting(m_Dir);
  // Missing: only a warning.
  EXPECT_TRUE(RunIntegrityCheck(""));
  EXPECT_EQ(m_Log.Texts(llWarn), (std::vector<std::string>{"Can't find file: " + m_Dir + "Holmira.exe"}));

  // A relative directory lies beside the executable; the tool runs to its end.
  ASSERT_EQ(mkdir((m_Dir + "tools").c_str(), 0755), 0);
  WriteProgram(m_Dir + "tools/Holmira", "#!/bin/sh\nsleep 0.2\necho \"$0\" > \"$(dirname \"$0\")/ran.txt\"\nexit 4\n",
               0755);
  m_Log.Clear();
  EXPECT_TRUE(RunIntegrityCheck("tools"));
  EXPECT_EQ(ReadFile(m_Dir + "tools/ran.txt"), m_Dir + "tools/Holmira\n");
  EXPECT_EQ(m_Log.Texts(llInfo),
            (std::vector<std::string>{"Begin checking file integrity!", "End  checking file integrity!"}));

  // An absolute directory is used as it stands.
  std::remove((m_Dir + "tools/ran.txt").c_str());
  EXPECT_TRUE(RunIntegrityCheck(m_Dir + "tools/"));
  EXPECT_TRUE(Exists(m_Dir + "tools/ran.txt"));

  // There but not startable: a fatal line, and the failure for start-up to act on.
  WriteProgram(m_Dir + "Holmira", "not a program", 0644);
  EXPECT_EXIT(std::_Exit(RunIntegrityCheck() ? 0 : 1), ::testing::ExitedWithCode(1),
              Literal("[LogFatal] Create Holmira.exe failed! GetLastError() = 13, CmdLine = " + m_Dir + "Holmira.exe"));
}

TEST(CodePageTest, ConvertsForDisplayAndMarksBrokenBytes) {
  EXPECT_EQ(CodePageToUtf8("\xcc\xec", "CP936"), "天");
  EXPECT_EQ(CodePageToUtf8("\xa4\xd1", "CP950"), "天");
  EXPECT_EQ(CodePageToUtf8("ab\xff\xff"
                           "cd",
                           "CP936"),
            "ab??cd");
  EXPECT_EQ(CodePageToUtf8("cut\xcc", "CP936"), "cut?");
  EXPECT_EQ(CodePageToUtf8("", "CP936"), "");
}

}  // namespace
