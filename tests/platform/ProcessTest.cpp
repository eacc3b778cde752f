#include "platform/process.h"
#include "platform/process_parsers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <algorithm>
#include <filesystem>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "PeerHelpers.h"

using namespace platform;

namespace {

char ProcState(uint32_t pid) {
  std::string text;
  if (!ReadFile("/proc/" + std::to_string(pid) + "/stat", &text)) return '-';
  std::size_t close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() ? text[close + 2] : '?';
}

std::string RealPath(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) != nullptr ? buffer : path;
}

}  // namespace

TEST(ProcessTest, SplitCommandLine) {
  struct Case {
    const char* line;
    std::vector<std::string> parts;
  } cases[] = {
      {"", {}},
      {"   ", {}},
      {"a b  c", {"a", "b", "c"}},
      {"  prog\targ ", {"prog", "arg"}},
      {"\"C:\\Program Files\\x.exe\" -a \"b c\"", {"C:\\Program Files\\x.exe", "-a", "b c"}},
      {"x \"\" y", {"x", "", "y"}},
      {"x a\"b c\"d", {"x", "ab cd"}},
      {"x \"unterminated arg", {"x", "unterminated arg"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.parts) << c.line;
}

TEST(ProcessTest, ExitCodeIsReportedAndWaitBlocks) {
  ProcessInformation info;
  int error = -1;
  ASSERT_TRUE(StartProcess("\"" + peer::Path() + "\" exit 7", "", false, &info, &error));
  EXPECT_EQ(error, 0);
  EXPECT_NE(info.ProcessHandle, 0);
  EXPECT_EQ(info.ThreadHandle, 0);
  EXPECT_EQ(info.ThreadId, info.ProcessId);
  EXPECT_EQ(ProcessIdOfHandle(info.ProcessHandle), info.ProcessId);
  int code = -1;
  EXPECT_TRUE(WaitForProcess(info.ProcessHandle, -1, &code));
  EXPECT_EQ(code, 7);
  // Asked again after the reap: the same answer.
  EXPECT_TRUE(WaitForProcess(info.ProcessHandle, 0, &code));
  EXPECT_EQ(code, 7);
  CloseProcessHandles(info);
  EXPECT_EQ(info.ProcessHandle, 0);

  // With `wait` the start returns once the program has ended.
  ASSERT_TRUE(StartProcess("\"" + peer::Path() + "\" exit 3", "", true, &info, &error));
  EXPECT_FALSE(IsProcessAlive(info.ProcessId));
  EXPECT_TRUE(WaitForProcess(info.ProcessHandle, 0, &code));
  EXPECT_EQ(code, 3);
  CloseProcessHandles(info);
}

TEST(ProcessTest, LogicalNameWorkingDirectoryAndQuotedArguments) {
  const std::string dir = peer::ScratchDir("proc");
  const std::string work = peer::ScratchDir("work");
  ProcessInformation info;
  int error = 0;
  // "<peer>.exe" is the logical name of the peer program.
  ASSERT_TRUE(StartProcess("\"" + peer::Path() + ".exe\" report " + dir + "out \"two words\" plain \"\"", work, false,
                           &info, &error))
      << error;
  int code = -1;
  EXPECT_TRUE(WaitForProcess(info.ProcessHandle, 10000, &code));
  EXPECT_EQ(code, 0);
  CloseProcessHandles(info);
  EXPECT_EQ(peer::WaitForFile(dir + "out"), RealPath(work) + "\ntwo words\nplain\n\n");
}

TEST(ProcessTest, FailedExecIsAFailedStart) {
  const std::string dir = peer::ScratchDir("exec");
  ProcessInformation info;
  info.ProcessId = 99;
  int error = 0;
  EXPECT_FALSE(StartProcess(dir + "NoSuchProgram.exe", "", false, &info, &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(info.ProcessHandle, 0);
  EXPECT_EQ(info.ProcessId, 0u);

  // A file that is not executable: refused by exec in the child, reported here.
  std::ofstream(dir + "script.txt") << "not a program\n";
  EXPECT_FALSE(StartProcess(dir + "script.txt", "", false, &info, &error));
  EXPECT_EQ(error, EACCES);
  // Executable but not a program the kernel can run.
  std::ofstream(dir + "garbage") << "\x01\x02\x03 garbage";
  chmod((dir + "garbage").c_str(), 0755);
  EXPECT_FALSE(StartProcess(dir + "garbage", "", false, &info, &error));
  EXPECT_EQ(error, ENOEXEC);
  // A working directory that does not exist.
  EXPECT_FALSE(StartProcess("\"" + peer::Path() + "\" exit 0", dir + "missing", false, &info, &error));
  EXPECT_EQ(error, ENOENT);
  // Nothing to run at all, or a NUL in the line.
  EXPECT_FALSE(StartProcess("   ", "", false, &info, &error));
  EXPECT_NE(error, 0);
  EXPECT_FALSE(StartProcess(std::string("a\0b", 3), "", false, &info, &error));
  EXPECT_NE(error, 0);
}

TEST(ProcessTest, LivenessKillAndExitCodeOfSignals) {
  EXPECT_FALSE(IsProcessAlive(0));
  EXPECT_FALSE(IsProcessAlive(0xFFFFFFFFu));
  EXPECT_TRUE(IsProcessAlive(CurrentProcessId()));

  peer::Process sleeper("sleep 60000");
  const int handle = sleeper.handle;
  const uint32_t pid = sleeper.pid;
  ASSERT_NE(handle, 0);
  EXPECT_TRUE(IsProcessAlive(pid));
  int code = 0;
  EXPECT_FALSE(WaitForProcess(handle, 50, &code));  // still running
  EXPECT_TRUE(TerminateProcess(handle, -1));
  EXPECT_TRUE(WaitForProcess(handle, 10000, &code));
  EXPECT_EQ(code, 128 + SIGKILL);
  EXPECT_FALSE(IsProcessAlive(pid));
  EXPECT_FALSE(TerminateProcess(handle, -1));  // gone

  // Any other exit code asks politely.
  peer::Process second("sleep 60000");
  ASSERT_NE(second.handle, 0);
  EXPECT_TRUE(TerminateProcess(second.handle, 1));
  EXPECT_TRUE(WaitForProcess(second.handle, 10000, &code));
  EXPECT_EQ(code, 128 + SIGTERM);

  EXPECT_FALSE(TerminateProcess(0, -1));
  EXPECT_FALSE(WaitForProcess(0, 0, &code));
  EXPECT_EQ(ProcessIdOfHandle(0), 0u);
}

TEST(ProcessTest, ZombieIsNeverAliveAndIsReaped) {
  uint32_t pid = 0;
  int handle = peer::Start("exit 5", &pid);
  ASSERT_NE(handle, 0);
  // Nobody waits for it yet: it ends as a zombie.
  for (int i = 0; i < 1000 && ProcState(pid) != 'Z'; ++i) SleepMs(10);
  ASSERT_EQ(ProcState(pid), 'Z');
  EXPECT_FALSE(IsProcessAlive(pid));
  EXPECT_EQ(ProcState(pid), '-');  // reaped
  EXPECT_FALSE(TerminateProcess(handle, -1));
  CpuTimes times;
  EXPECT_FALSE(GetProcessTimesByHandle(handle, &times));
  // The exit code taken by the reap is still there for the handle.
  int code = -1;
  EXPECT_TRUE(WaitForProcess(handle, 0, &code));
  EXPECT_EQ(code, 5);
  CloseProcessHandle(handle);
}

TEST(ProcessTest, AChildThatThisLayerDidNotStartIsNeverReapedByIt) {
  // A child of another part of the program (a library's own helper): its exit status is
  // its owner's, so the liveness test must leave the zombie alone.
  const pid_t child = fork();
  if (child == 0) _exit(7);
  ASSERT_GT(child, 0);
  for (int i = 0; i < 1000 && ProcState(static_cast<uint32_t>(child)) != 'Z'; ++i) SleepMs(10);
  EXPECT_FALSE(IsProcessAlive(static_cast<uint32_t>(child)));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child) << "the liveness test reaped a child that was not its own";
  EXPECT_EQ(WEXITSTATUS(status), 7);
}

TEST(ProcessTest, HandleOfAReapedChildNeverSignalsItsPidsNextOwner) {
  peer::Process old("sleep 60000");
  const int oldHandle = old.handle;
  const uint32_t oldPid = old.pid;
  ASSERT_NE(oldHandle, 0);
  CpuTimes before;
  ASSERT_TRUE(GetProcessTimesByHandle(oldHandle, &before));  // its /proc file is open from now on
  ASSERT_TRUE(TerminateProcess(oldHandle, -1));
  int code = 0;
  ASSERT_TRUE(WaitForProcess(oldHandle, 10000, &code));

  // Hand the same pid to a new process: the kernel gives out the pid after ns_last_pid.
  uint32_t newPid = 0;
  int newHandle = 0;
  for (int attempt = 0; attempt < 20 && newPid != oldPid; ++attempt) {
    if (newHandle != 0) peer::Stop(newHandle);
    std::ofstream lastPid("/proc/sys/kernel/ns_last_pid");
    if (!lastPid) break;
    lastPid << (oldPid - 1);
    lastPid.close();
    if (lastPid.fail()) break;
    newHandle = peer::Start("sleep 60000", &newPid);
  }
  if (newPid != oldPid) {
    peer::Stop(newHandle);
    GTEST_SKIP() << "cannot make the kernel reuse a pid here (ns_last_pid not writable)";
  }
  EXPECT_FALSE(TerminateProcess(oldHandle, -1));
  EXPECT_FALSE(TerminateProcess(oldHandle, 0));
  CpuTimes times;
  MemoryCounters memory;
  EXPECT_FALSE(GetProcessTimesByHandle(oldHandle, &times));
  EXPECT_FALSE(GetMemoryCountersByHandle(oldHandle, &memory));
  EXPECT_TRUE(WaitForProcess(oldHandle, 0, &code));
  EXPECT_EQ(code, 128 + SIGKILL);
  SleepMs(100);
  EXPECT_TRUE(IsProcessAlive(newPid));
  EXPECT_FALSE(WaitForProcess(newHandle, 0, &code));
  peer::Stop(newHandle);
}

// The descriptors open in this process.
int OpenDescriptors() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

TEST(ProcessTest, HandleOfAnotherProcessAndFigures) {
  const int descriptors = OpenDescriptors();
  int handle = OpenProcessHandle(CurrentProcessId());
  ASSERT_NE(handle, 0);
  EXPECT_EQ(ProcessIdOfHandle(handle), CurrentProcessId());
  volatile double sink = 0;
  for (int i = 0; i < 20000000; ++i) sink = sink + i * 0.5;
  CpuTimes times;
  ASSERT_TRUE(GetProcessTimesByHandle(handle, &times));
  EXPECT_GT(times.User + times.Kernel, 0u);
  CpuTimes threadTimes;  // the process's figures in `times` stay for the comparison below
  ASSERT_TRUE(GetThreadTimes(CurrentProcessId(), CurrentThreadId(), &threadTimes));
  EXPECT_GT(threadTimes.User + threadTimes.Kernel, 0u);
  MemoryCounters memory;
  ASSERT_TRUE(GetMemoryCountersByHandle(handle, &memory));
  EXPECT_GT(memory.WorkingSetSize, 0u);
  EXPECT_GE(memory.PeakWorkingSetSize, memory.WorkingSetSize);
  EXPECT_GT(memory.PagefileUsage, 0u);
  EXPECT_GT(memory.PageFaultCount, 0u);
  CpuTimes later;
  ASSERT_TRUE(GetProcessTimesByHandle(handle, &later));
  EXPECT_GE(later.User + later.Kernel, times.User + times.Kernel);
  CloseProcessHandle(handle);
  EXPECT_EQ(ProcessIdOfHandle(handle), 0u);
  EXPECT_EQ(OpenDescriptors(), descriptors) << "the handle's files close with it";

  EXPECT_EQ(OpenProcessHandle(0), 0);
  EXPECT_FALSE(GetProcessTimes(0, &times));
  EXPECT_FALSE(GetThreadTimes(CurrentProcessId(), 0, &times));
  EXPECT_FALSE(GetMemoryCounters(0, &memory));
  EXPECT_GE(ProcessorCount(), 1);
}

TEST(ProcessTest, OpenFileLimitIsRaisedToTheHardLimit) {
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
  rlimit lowered = before;
  lowered.rlim_cur = before.rlim_max < 256 ? before.rlim_max : 256;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
  EXPECT_EQ(RaiseOpenFileLimit(), static_cast<uint64_t>(before.rlim_max));
  rlimit after{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &after), 0);
  EXPECT_EQ(after.rlim_cur, before.rlim_max);
  setrlimit(RLIMIT_NOFILE, &before);
}

TEST(ProcessTest, ParseProcStatTimes) {
  const uint64_t tick = 10000000ULL / static_cast<uint64_t>(sysconf(_SC_CLK_TCK));
  struct Case {
    std::string text;
    bool ok;
    uint64_t user, kernel;  // in clock ticks
  } cases[] = {
      {"4242 (VemoMapServer) S 1 4242 4242 0 -1 4194560 12071 0 3 0 1534 287 0 0 20 0 9 0 815344 "
       "1102839808 40366 18446744073709551615 1 1 0 0 0 0 0 4096 17639 0 0 0 17 1 0 0 0 0 0\n",
       true, 1534, 287},
      // A command name with blanks and parentheses ends at the last ')'.
      {"77 (my (odd) name) R 1 77 77 0 -1 0 0 0 0 0 5 6 0 0 20 0 1 0 1 1 1 1\n", true, 5, 6},
      {"77 (a) R 1 77 77 0 -1 0 0 0 0 0 5\n", false, 0, 0},       // cut short
      {"77 (a) R 1 77 77 0 -1 0 0 0 0 0 x 6 0\n", false, 0, 0},   // not a number
      {"77 (a) R 1 77 77 0 -1 0 0 0 0 0 -5 6 0\n", false, 0, 0},  // negative
      {"no parenthesis at all", false, 0, 0},
      {"", false, 0, 0},
  };
  for (const Case& c : cases) {
    CpuTimes times;
    EXPECT_EQ(ParseProcStatTimes(c.text, &times), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(times.User, c.user * tick) << c.text;
    EXPECT_EQ(times.Kernel, c.kernel * tick) << c.text;
  }
}

TEST(ProcessTest, ParseProcStatus) {
  const std::string sample =
      "Name:\tVemoMapServer\nUmask:\t0022\nState:\tS (sleeping)\nTgid:\t4242\nPid:\t4242\n"
      "VmPeak:\t 1180000 kB\nVmSize:\t 1077000 kB\nVmLck:\t       0 kB\nVmHWM:\t  170000 kB\n"
      "VmRSS:\t  161464 kB\nRssAnon:\t  120000 kB\nRssFile:\t   41000 kB\nRssShmem:\t     464 kB\n"
      "VmData:\t  300000 kB\nVmSwap:\t    2048 kB\nThreads:\t9\n";
  MemoryCounters m;
  ASSERT_TRUE(ParseProcStatus(sample, &m));
  EXPECT_EQ(m.WorkingSetSize, 161464ULL * 1024);
  EXPECT_EQ(m.PeakWorkingSetSize, 170000ULL * 1024);
  EXPECT_EQ(m.PagefileUsage, (120000ULL + 2048) * 1024);
  EXPECT_EQ(m.PeakPagefileUsage, m.PagefileUsage);

  // No swap line (kernel without swap accounting): anonymous memory alone.
  ASSERT_TRUE(ParseProcStatus("VmHWM:\t 10 kB\nVmRSS:\t 8 kB\nRssAnon:\t 4 kB\n", &m));
  EXPECT_EQ(m.PagefileUsage, 4096u);
  // A peak below the current figure (read between two updates) is lifted to it.
  ASSERT_TRUE(ParseProcStatus("VmHWM:\t 4 kB\nVmRSS:\t 8 kB\n", &m));
  EXPECT_EQ(m.PeakWorkingSetSize, 8192u);

  // A kernel thread or zombie has no memory lines; garbage is no figure.
  EXPECT_FALSE(ParseProcStatus("Name:\tkthreadd\nState:\tS (sleeping)\n", &m));
  EXPECT_FALSE(ParseProcStatus("VmRSS:\t lots kB\n", &m));
  EXPECT_FALSE(ParseProcStatus("VmRSS:\t 99999999999999999999 kB\n", &m));
  EXPECT_FALSE(ParseProcStatus("", &m));
}

TEST(ProcessTest, ChildWhoseHandleWasClosedIsReapedLater) {
  ProcessInformation info;
  int error = 0;
  ASSERT_TRUE(StartProcess("\"" + peer::Path() + "\" sleep 100", "", false, &info, &error));
  const uint32_t pid = info.ProcessId;
  CloseProcessHandles(info);  // nobody will wait for it
  for (int i = 0; i < 1000 && ProcState(pid) != 'Z'; ++i) SleepMs(10);
  ASSERT_EQ(ProcState(pid), 'Z');
  // Any later process call reaps it, without being asked about that pid.
  EXPECT_TRUE(IsProcessAlive(CurrentProcessId()));
  EXPECT_EQ(ProcState(pid), '-');
}

// Texts saved from a running system: a busy interpreter, a program whose name holds
// blanks and parentheses, and a kernel thread (no memory of its own).
TEST(ProcessTest, ParsersOnSavedProcSamples) {
  const uint64_t tick = 10000000ULL / static_cast<uint64_t>(sysconf(_SC_CLK_TCK));
  const std::string dir = std::string(VEMO_TEST_SOURCE_DIR) + "samples/";
  struct StatCase {
    const char* file;
    uint64_t user, kernel;
  } stats[] = {{"busy.stat", 150, 3}, {"odd_name.stat", 0, 0}, {"kthreadd.stat", 0, 0}};
  for (const StatCase& c : stats) {
    std::string text;
    ASSERT_TRUE(ReadFile(dir + c.file, &text)) << c.file;
    CpuTimes times;
    ASSERT_TRUE(ParseProcStatTimes(text, &times)) << c.file;
    EXPECT_EQ(times.User, c.user * tick) << c.file;
    EXPECT_EQ(times.Kernel, c.kernel * tick) << c.file;
  }
  struct StatusCase {
    const char* file;
    bool ok;
    uint64_t rssKb, hwmKb, pagefileKb;
  } statuses[] = {
      {"busy.status", true, 37060, 37060, 30308},
      {"odd_name.status", true, 1796, 1796, 112},
      {"kthreadd.status", false, 0, 0, 0},
  };
  for (const StatusCase& c : statuses) {
    std::string text;
    ASSERT_TRUE(ReadFile(dir + c.file, &text)) << c.file;
    MemoryCounters m;
    ASSERT_EQ(ParseProcStatus(text, &m), c.ok) << c.file;
    if (!c.ok) continue;
    EXPECT_EQ(m.WorkingSetSize, c.rssKb * 1024) << c.file;
    EXPECT_EQ(m.PeakWorkingSetSize, c.hwmKb * 1024) << c.file;
    EXPECT_EQ(m.PagefileUsage, c.pagefileKb * 1024) << c.file;
  }
}

namespace {

// Takes every descriptor under a lowered soft limit for as long as it lives.
class DescriptorsTaken {
 public:
  DescriptorsTaken() {
    getrlimit(RLIMIT_NOFILE, &m_Before);
    rlimit lowered = m_Before;
    lowered.rlim_cur = 128;
    setrlimit(RLIMIT_NOFILE, &lowered);
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) m_Fds.push_back(fd);
  }
  ~DescriptorsTaken() {
    for (int fd : m_Fds) close(fd);
    setrlimit(RLIMIT_NOFILE, &m_Before);
  }

 private:
  rlimit m_Before{};
  std::vector<int> m_Fds;
};

// Our children that have not been reaped, by their command names.
std::vector<std::string> ChildCommands() {
  std::vector<std::string> names;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream children(task.path() / "children");
    for (uint32_t pid; children >> pid;) {
      std::string comm;
      std::ifstream(std::string("/proc/") + std::to_string(pid) + "/comm") >> comm;
      names.push_back(comm);
    }
  }
  return names;
}

}  // namespace

TEST(ProcessTest, WithEveryDescriptorTakenAStartFailsAndAMapServerIsStillKnownByItsArgument) {
  const std::string sleep = RealPath("/bin/sleep");
  ProcessInformation running;
  int error = 0;
  ASSERT_TRUE(StartProcess(sleep + " 31", "", false, &running, &error));
  {
    DescriptorsTaken taken;
    // A started process without a handle could never be watched or told from a later one
    // with its pid: the start fails, and the process is gone again.
    ProcessInformation info;
    EXPECT_FALSE(StartProcess(sleep + " 30", "", false, &info, &error));
    EXPECT_EQ(error, EMFILE);
    EXPECT_EQ(info.ProcessId, 0u);
    EXPECT_EQ(info.ProcessHandle, 0);
    // A running program is still recognised from /proc, by its program and its argument.
    std::string why;
    bool withoutHandle = false;
    EXPECT_EQ(OpenProgramProcess(running.ProcessId, {sleep}, "31", &why, &withoutHandle), 0);
    EXPECT_TRUE(withoutHandle) << why;
    EXPECT_EQ(OpenProgramProcess(running.ProcessId, {sleep}, "32", &why, &withoutHandle), 0);
    EXPECT_FALSE(withoutHandle);
    EXPECT_EQ(why, "it serves another map");
  }
  const std::vector<std::string> children = ChildCommands();
  EXPECT_EQ(std::count(children.begin(), children.end(), "sleep"), 1) << "only the first sleep may be left";
  // With descriptors free again, the argument decides whether a handle is given.
  const int handle = OpenProgramProcess(running.ProcessId, {sleep}, "31", nullptr);
  EXPECT_NE(handle, 0);
  EXPECT_EQ(OpenProgramProcess(running.ProcessId, {sleep}, "32", nullptr), 0);
  CloseProcessHandle(handle);
  EXPECT_TRUE(TerminateProcess(running.ProcessHandle, -1));
  EXPECT_TRUE(WaitForProcess(running.ProcessHandle, 5000, nullptr));
  CloseProcessHandles(running);
}

TEST(ProcessTest, AnEndedChildIsSeenOnTheWatchAndReapedWithItsExitCode) {
  ProcessInformation info;
  int error = 0;
  ASSERT_TRUE(StartProcess("/bin/sleep 30", "", false, &info, &error));
  ASSERT_EQ(kill(static_cast<pid_t>(info.ProcessId), SIGKILL), 0);
  pollfd watch{ChildEndWatchFd(), POLLIN, 0};
  std::vector<EndedChild> ended;
  for (int round = 0; round < 20 && ended.empty(); ++round) {
    poll(&watch, 1, 100);
    for (const EndedChild& child : ReapEndedChildren())
      if (child.ProcessId == info.ProcessId) ended.push_back(child);
  }
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0].ExitCode, 128 + SIGKILL);
  EXPECT_EQ(ProcState(info.ProcessId), '-') << "no zombie is left";
  int exitCode = 0;
  EXPECT_TRUE(WaitForProcess(info.ProcessHandle, 0, &exitCode));
  EXPECT_EQ(exitCode, 128 + SIGKILL);
  CloseProcessHandles(info);
}
