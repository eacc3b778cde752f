#include "platform/crash_report.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <stdexcept>
#include <thread>

#include "PeerHelpers.h"

using namespace platform;

namespace {

__attribute__((noinline)) void RecordingCatchBlock() {
  try {
    throw std::runtime_error("worker failed");
  } catch (const std::exception&) {
    RecordExceptionCallStack();
  }
}

__attribute__((noinline)) void ThrowDeepInside(int depth) {
  if (depth == 0) throw std::out_of_range("index 7 of 3");
  ThrowDeepInside(depth - 1);
  asm volatile("");  // keeps the call from becoming a jump
}

// Catches what ThrowDeepInside threw, far from the throw, and records it.
__attribute__((noinline)) void CatchFromAfar() {
  try {
    ThrowDeepInside(2);
  } catch (...) {
    RecordExceptionCallStack();
  }
}

bool Holds(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& line : lines)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

}  // namespace

TEST(CrashReportTest, LastExceptionCallStack) {
  std::vector<std::string> lines;
  std::string error;
  EXPECT_FALSE(GetLastExceptionCallStack(lines, error));
  EXPECT_FALSE(error.empty());

  RecordingCatchBlock();
  ASSERT_TRUE(GetLastExceptionCallStack(lines, error)) << error;
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].rfind("#0 ", 0), 0u) << lines[0];
  bool named = false;
  for (const std::string& line : lines)
    if (line.find("RecordingCatchBlock") != std::string::npos && line.find("CrashReportTest.cpp:") != std::string::npos)
      named = true;
  EXPECT_TRUE(named) << lines[0];
}

TEST(CrashReportTest, LastExceptionIsTheThrowersOwnPerThread) {
  CatchFromAfar();
  std::vector<std::string> lines;
  std::string error;
  ASSERT_TRUE(GetLastExceptionCallStack(lines, error)) << error;
  // The stack of the throw: the throwing function first, the catching one further down.
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("ThrowDeepInside"), std::string::npos) << lines[0];
  EXPECT_TRUE(Holds(lines, "CatchFromAfar"));
  std::string description;
  uint32_t address = 0;
  ASSERT_TRUE(GetLastException(description, address));
  EXPECT_EQ(description, "std::out_of_range: index 7 of 3");
  EXPECT_NE(address, 0u);

  // Another thread's exception is that thread's own and leaves this thread's record alone.
  std::string otherDescription;
  std::vector<std::string> otherLines;
  bool otherHadNone = false;
  std::thread other([&] {
    std::string ignored;
    uint32_t ignoredAddress = 0;
    otherHadNone = !GetLastException(ignored, ignoredAddress);
    RecordingCatchBlock();
    GetLastException(otherDescription, ignoredAddress);
    GetLastExceptionCallStack(otherLines, ignored);
  });
  other.join();
  EXPECT_TRUE(otherHadNone);
  EXPECT_EQ(otherDescription, "std::runtime_error: worker failed");
  EXPECT_TRUE(Holds(otherLines, "RecordingCatchBlock"));
  ASSERT_TRUE(GetLastException(description, address));
  EXPECT_EQ(description, "std::out_of_range: index 7 of 3");
  ASSERT_TRUE(GetLastExceptionCallStack(lines, error)) << error;
  EXPECT_NE(lines[0].find("ThrowDeepInside"), std::string::npos) << lines[0];
}

TEST(CrashReportTest, ActiveOnlyWhileTheHandlersAreInPlace) {
  EXPECT_FALSE(IsCrashReportingActive());
  // Installed in a child, so that this test program keeps its own handlers.
  const std::string dir = peer::ScratchDir("inst");
  pid_t child = fork();
  if (child == 0) {
    InstallCrashReporting(dir);
    InstallCrashReporting("/elsewhere/");  // a second call changes nothing
    if (!IsCrashReportingActive()) _exit(1);
    signal(SIGBUS, SIG_DFL);  // somebody replaced one handler
    _exit(IsCrashReportingActive() ? 2 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(CrashReportTest, FaultAndUncaughtExceptionWriteAReportAndEndBySignal) {
  struct Case {
    const char* command;
    int signal;
    const char* headline;
  } cases[] = {
      {"crash", SIGSEGV, "SIGSEGV"},
      {"throw", SIGABRT, "uncaught exception: nobody catches this"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    const std::string dir = peer::ScratchDir("crash") + "reports/";
    peer::Process crasher(std::string(c.command) + " " + dir);
    ASSERT_NE(crasher.handle, 0);
    int code = 0;
    ASSERT_TRUE(WaitForProcess(crasher.handle, 60000, &code));
    EXPECT_EQ(code, 128 + c.signal);  // the default action still ends it

    std::vector<std::string> reports;
    if (DIR* d = opendir(dir.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name.rfind("crash_", 0) == 0) reports.push_back(name);
      }
      closedir(d);
    }
    ASSERT_EQ(reports.size(), 1u);  // one report, even though the exception ends in an abort
    // crash_<yyyymmdd_hhmmss>_<pid>.log
    const std::string& found = reports[0];
    EXPECT_EQ(found.size(), std::string("crash_20260101_000000_.log").size() + std::to_string(crasher.pid).size());
    EXPECT_NE(found.find("_" + std::to_string(crasher.pid) + ".log"), std::string::npos) << found;
    std::string text;
    ASSERT_TRUE(ReadFile(dir + found, &text));
    EXPECT_NE(text.find(c.headline), std::string::npos) << text;
    EXPECT_NE(text.find("PlatformPeer.cpp:"), std::string::npos) << text;
  }
}
