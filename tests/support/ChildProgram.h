// Starts a program as a child of the test with its standard output and error in a file, and
// waits for its exit code.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

// The child's process id (-1 when it could not be forked).
inline pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& args, const std::string& outPath) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 1);
    dup2(fd, 2);
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
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

// Waits up to `timeoutMs` for the child's exit code; a child still running then is killed
// and -1 returned.
inline int WaitProgram(pid_t pid, int timeoutMs = 30000) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const int code = ProgramExitCode(pid);
    if (code >= 0) return code;
    if (std::chrono::steady_clock::now() >= until) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}
