// Starting processes on Linux: the command line split at blanks, the program found as
// Windows would find it, posix_spawn in a session of its own, and the child's pidfd
// registered at once.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/process_handles.h"
#include "platform/process_spawner.h"

extern char** environ;

namespace platform {
namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The file a program name stands for, found as Windows would: a name with a directory
// part relative to our current directory; a bare name beside our executable, in our
// current directory, then along PATH. "" when not found.
std::string ResolveProgram(const std::string& program) {
  if (program.find('/') != std::string::npos) {
    if (program[0] == '/') return program;
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return program;
    return std::string(cwd) + "/" + program;
  }
  std::string candidate = ExeDir() + program;
  if (IsExecutableFile(candidate)) return candidate;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) != nullptr) {
    candidate = std::string(cwd) + "/" + program;
    if (IsExecutableFile(candidate)) return candidate;
  }
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t colon = dirs.find(':', start);
    std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!dir.empty()) {
      candidate = dir + "/" + program;
      if (IsExecutableFile(candidate)) return candidate;
    }
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return std::string();
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> parts;
  std::string current;
  bool inQuotes = false;
  bool inPart = false;  // a part has begun (a "" part is an empty argument)
  for (char c : commandLine) {
    if (c == '"') {
      inQuotes = !inQuotes;
      inPart = true;
    } else if ((c == ' ' || c == '\t') && !inQuotes) {
      if (inPart) parts.push_back(current);
      current.clear();
      inPart = false;
    } else {
      current += c;
      inPart = true;
    }
  }
  if (inPart) parts.push_back(current);
  return parts;
}

namespace {

// Starts `program` with the arguments `args` (args[0] included) in `dir` ("" = the current
// one) and registers the child's handle. False with `*errorCode` when it could not be
// executed.
//
// posix_spawn, not fork: it costs the same whatever this process's size, and in a program
// with threads nothing of ours runs in the child between the clone and the exec. A process
// with a large descriptor table starts through the helper of process_spawner.h instead.
int SpawnHere(const std::string& program, const std::vector<char*>& argv, const std::string& dir, pid_t* pid) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  // Nothing of ours leaks into the program (a held shared memory descriptor would keep a
  // segment alive), whoever forgot the close-on-exec flag.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  // A session of its own, so that the program outlives our terminal and our process
  // group; no blocked signals, and every signal at its default (an ignored signal would
  // stay ignored across exec).
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const int rc = posix_spawn(pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return rc;
}

bool StartProgram(const std::string& program, std::vector<std::string> args, const std::string& dir,
                  ProcessInformation* info, int* errorCode) {
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = spawner::Worthwhile() ? spawner::Spawn(program.c_str(), argv.data(), environ, dir.c_str(), &pid) : -1;
  if (rc == -1) rc = SpawnHere(program, argv, dir, &pid);
  if (rc != 0) {
    *errorCode = rc;
    return false;
  }
  // Opened at once: the child cannot be reaped by anyone but us, so the pid is still its.
  int pidfd = handles::OpenPidfd(pid);
  if (pidfd < 0) {
    // Without its handle the child could not be watched, reaped or told from a later
    // process with its pid: the start has failed, and the child goes at once.
    const int pidfdError = errno;
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    OutputDebugString("StartProcess: no handle for the started process (" + std::string(std::strerror(pidfdError)) +
                      "); it was ended");
    *errorCode = pidfdError;
    return false;
  }
  info->ProcessHandle = handles::Register(pidfd, static_cast<uint32_t>(pid), true, true);
  info->ThreadHandle = 0;
  info->ProcessId = static_cast<uint32_t>(pid);
  info->ThreadId = static_cast<uint32_t>(pid);
  return true;
}

}  // namespace

bool StartProcess(const std::string& commandLine, const std::string& workDir, bool wait, ProcessInformation* info,
                  int* errorCode) {
  int dummyCode = 0;
  if (errorCode == nullptr) errorCode = &dummyCode;
  *errorCode = 0;
  if (info != nullptr) *info = ProcessInformation{};

  handles::ReapClosedChildren();
  if (commandLine.find('\0') != std::string::npos || workDir.find('\0') != std::string::npos) {
    *errorCode = EINVAL;
    OutputDebugString("StartProcess: the command line or working directory holds a NUL character");
    return false;
  }
  std::vector<std::string> args = SplitCommandLine(commandLine);
  if (args.empty() || args[0].empty()) {
    *errorCode = ENOENT;
    OutputDebugString("StartProcess: empty command line");
    return false;
  }
  args[0] = LogicalFileName(args[0]);
  std::string program = ResolveProgram(args[0]);
  if (program.empty()) {
    *errorCode = ENOENT;
    OutputDebugString("StartProcess: program not found: " + args[0]);
    return false;
  }
  ProcessInformation started;
  if (!StartProgram(program, std::move(args), NativePath(workDir), &started, errorCode)) return false;
  if (wait) {
    int exitCode = 0;
    WaitForProcess(started.ProcessHandle, -1, &exitCode);
  }
  if (info != nullptr)
    *info = started;
  else if (started.ProcessHandle != 0)
    CloseProcessHandle(started.ProcessHandle);
  return true;
}

bool RunShellCommand(const std::string& command, const std::string& workDir, int* exitCode) {
  int dummy = 0;
  if (exitCode == nullptr) exitCode = &dummy;
  *exitCode = 0;
  ProcessInformation info;
  int error = 0;
  if (!StartProgram("/bin/sh", {"sh", "-c", command}, NativePath(workDir), &info, &error)) {
    OutputDebugString("RunShellCommand: /bin/sh could not be started: " + std::string(std::strerror(error)));
    return false;
  }
  bool ended = WaitForProcess(info.ProcessHandle, -1, exitCode);
  CloseProcessHandle(info.ProcessHandle);
  return ended;
}

}  // namespace platform
