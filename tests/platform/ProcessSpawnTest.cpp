// Starting a program from a process that holds thousands of descriptors, as a manager with
// many maps does: what the started program gets is checked from /proc.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "support/ProcStat.h"

using namespace platform;

namespace {

long StatField(uint32_t pid, int n) { return std::stol(ProcStatField(pid, n)); }

std::string StatusLine(uint32_t pid, const std::string& name) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(name + ":", 0) == 0) return line.substr(name.size() + 1);
  return std::string();
}

// The program's descriptors above the standard three that lead to what this test holds (the
// /dev/null files) or to the starting helper's socket. Only those: the program's own loader
// briefly opens its libraries and locale files while it starts, and a read may catch one.
std::vector<std::string> LeakedDescriptors(uint32_t pid) {
  std::vector<std::string> leaked;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    if (std::stoi(entry.path().filename().string()) <= 2) continue;
    const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (target == "/dev/null" || target.rfind("socket:", 0) == 0 || target.rfind("pipe:", 0) == 0)
      leaked.push_back(entry.path().filename().string() + " -> " + target);
  }
  return leaked;
}

// Our children in state Z.
int ZombieChildren() {
  int zombies = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream children(task.path() / "children");
    for (long child; children >> child;)
      zombies += StatusLine(static_cast<uint32_t>(child), "State").find('Z') != std::string::npos;
  }
  return zombies;
}

TEST(ProcessSpawnTest, AStartFromALargeDescriptorTableLeaksNothingAndStaysOurChild) {
  RaiseOpenFileLimit();
  std::vector<int> held;
  for (int i = 0; i < 3000; ++i) {
    const int fd = open("/dev/null", O_RDONLY | (i % 2 == 0 ? O_CLOEXEC : 0));  // half forget close-on-exec
    if (fd < 0) break;
    held.push_back(fd);
  }
  ASSERT_GT(held.size(), 2000u);
  // An ignored and a blocked signal here must not reach the program.
  signal(SIGUSR1, SIG_IGN);
  sigset_t blocked, before;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &blocked, &before);

  for (int round = 0; round < 3; ++round) {
    ProcessInformation info;
    int error = 0;
    ASSERT_TRUE(StartProcess("/bin/sleep 30", "/tmp", false, &info, &error)) << error;
    const uint32_t pid = info.ProcessId;
    EXPECT_EQ(StatField(pid, 4), static_cast<long>(getpid())) << "the program is not our child";
    EXPECT_EQ(StatField(pid, 6), static_cast<long>(pid)) << "the program has no session of its own";
    EXPECT_TRUE(LeakedDescriptors(pid).empty())
        << "descriptors leaked into the program: " << testing::PrintToString(LeakedDescriptors(pid));
    EXPECT_EQ(StatusLine(pid, "SigIgn").find_first_not_of("\t0"), std::string::npos);
    EXPECT_EQ(StatusLine(pid, "SigBlk").find_first_not_of("\t0"), std::string::npos);
    EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/cwd"), "/tmp");
    ASSERT_TRUE(TerminateProcess(info.ProcessHandle, -1));
    int exitCode = 0;
    ASSERT_TRUE(WaitForProcess(info.ProcessHandle, 5000, &exitCode));
    EXPECT_EQ(exitCode, 128 + SIGKILL);
    CloseProcessHandle(info.ProcessHandle);
    EXPECT_FALSE(std::filesystem::exists("/proc/" + std::to_string(pid))) << "not reaped";
  }

  // A program that cannot run: the system's reason, and nothing left behind.
  const std::string notExecutable = "/tmp/vemo-spawn-" + std::to_string(getpid());
  std::ofstream(notExecutable) << "not a program\n";
  int error = 0;
  ProcessInformation info;
  EXPECT_FALSE(StartProcess(notExecutable, "", false, &info, &error));
  EXPECT_EQ(error, EACCES);
  EXPECT_EQ(ZombieChildren(), 0);
  // A working directory that does not exist is a failed start too.
  EXPECT_FALSE(StartProcess("/bin/true", "/nonexistent-dir-of-vemo", false, &info, &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(ZombieChildren(), 0);
  std::filesystem::remove(notExecutable);

  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  signal(SIGUSR1, SIG_DFL);
  for (int fd : held) close(fd);
}

}  // namespace
