// Starts a program as a child of the test with its standard output and error in a file,
// waits for its exit code, and ends it; runs a shell command and collects its output.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"

extern char** environ;

// How a child is started besides its program and arguments.
struct SpawnOptions {
  std::vector<std::string> setEnv{};    // "NAME=value", over what the test's environment has
  std::vector<std::string> unsetEnv{};  // names left out of the child's environment
  std::string workDir{};                // "" for the test's own
  bool ownProcessGroup = false;         // a group of its own, so that a signal reaches all it starts
  std::string terminal{};               // a pseudo-terminal: the child's session, controlling terminal and input
};

// The child's process id (-1 when it could not be forked). Everything the child needs is
// made before the fork.
inline pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& args, const std::string& outPath,
                          const SpawnOptions& options = {}) {
  std::set<std::string> replaced(options.unsetEnv.begin(), options.unsetEnv.end());
  for (const std::string& setting : options.setEnv) replaced.insert(setting.substr(0, setting.find('=')));
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string setting = *e;
    if (replaced.count(setting.substr(0, setting.find('='))) == 0) env.push_back(setting);
  }
  env.insert(env.end(), options.setEnv.begin(), options.setEnv.end());
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv, envp;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    if (!options.terminal.empty()) {
      setsid();
      const int tty = open(options.terminal.c_str(), O_RDWR);  // becomes the controlling terminal
      if (tty < 0) _exit(126);
      dup2(tty, 0);
    }
    if (options.ownProcessGroup) setpgid(0, 0);
    if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0) _exit(126);
    const int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  return pid;
}

// The exit code once the child has ended (128 + signal when killed), -1 while it runs.
inline int ProgramExitCode(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, WNOHANG) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Ends the child with SIGKILL and reaps it.
inline void KillProgram(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

// Waits up to `timeoutMs` for the child's exit code; -1 while it still runs then.
inline int WaitProgramEnd(pid_t pid, int timeoutMs) {
  int code = -1;
  WaitUntil([&] { return (code = ProgramExitCode(pid)) >= 0; }, timeoutMs, 20);
  return code;
}

// Waits up to `timeoutMs` for the child's exit code; a child still running then is killed
// and -1 returned.
inline int WaitProgram(pid_t pid, int timeoutMs = 30000) {
  const int code = WaitProgramEnd(pid, timeoutMs);
  if (code < 0) KillProgram(pid);
  return code;
}

struct CommandResult {
  int exitCode = -1;   // 128 + signal when killed
  std::string output;  // standard output and standard error together
};

// Runs a shell command line and collects what it writes.
inline CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}
