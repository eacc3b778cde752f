// Recognising the processes of given programs: one process by its pid (through a pidfd, or
// from /proc alone when no descriptor is free), or all of them by one walk of /proc.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/process_handles.h"

namespace platform {
namespace {

// A program replaced on disk while it runs reads "<path> (deleted)" in /proc: still that
// program.
std::string WithoutDeletedMark(std::string exe) {
  static const std::string deleted = " (deleted)";
  if (exe.size() > deleted.size() && exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0)
    exe.resize(exe.size() - deleted.size());
  return exe;
}

// The program of a process as /proc names it.
std::string ProgramOf(int procFd, const char* pid) {
  char target[PATH_MAX];
  const std::string link = std::string(pid) + "/exe";
  const ssize_t n = readlinkat(procFd, link.c_str(), target, sizeof target - 1);
  if (n <= 0) return std::string();
  return WithoutDeletedMark(std::string(target, static_cast<std::size_t>(n)));
}

// The arguments of a process after its program's own name.
std::vector<std::string> ArgumentsOf(int procFd, const char* pid) {
  std::vector<std::string> arguments;
  const int fd = openat(procFd, (std::string(pid) + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return arguments;
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0 && text.size() < 64 * 1024)
    text.append(buffer, static_cast<std::size_t>(n));
  close(fd);
  std::size_t start = text.find('\0');
  while (start != std::string::npos && start + 1 < text.size()) {
    const std::size_t end = text.find('\0', start + 1);
    arguments.push_back(text.substr(start + 1, (end == std::string::npos ? text.size() : end) - start - 1));
    start = end;
  }
  return arguments;
}

// What /proc says of `pid` without a handle: running (not a zombie), as our user, one of
// `programs`, with `argument` among its arguments. "" when it is; otherwise why not.
std::string ProgramProcessMismatch(uint32_t pid, const std::vector<std::string>& programs,
                                   const std::string& argument) {
  const std::string proc = "/proc/" + std::to_string(pid);
  struct stat st {};
  if (stat(proc.c_str(), &st) != 0) return "no such process";
  if (st.st_uid != geteuid()) return "the process belongs to another user";
  char target[PATH_MAX];
  const ssize_t n = readlink((proc + "/exe").c_str(), target, sizeof target - 1);
  if (n <= 0) return "its program cannot be read";
  const std::string exe = WithoutDeletedMark(std::string(target, static_cast<std::size_t>(n)));
  bool known = false;
  for (const std::string& program : programs) {
    char resolved[PATH_MAX];
    const std::string wanted = realpath(program.c_str(), resolved) != nullptr ? resolved : program;
    known = known || exe == wanted;
  }
  if (!known) return "it runs " + exe;
  if (!argument.empty()) {
    std::string cmdline;
    if (!handles::ReadProc(proc + "/cmdline", &cmdline)) return "its command line cannot be read";
    bool found = false;
    std::size_t start = cmdline.find('\0');  // after the program's own name
    while (!found && start != std::string::npos && start + 1 < cmdline.size()) {
      const std::size_t end = cmdline.find('\0', start + 1);
      found = cmdline.compare(start + 1, (end == std::string::npos ? cmdline.size() : end) - start - 1, argument) == 0;
      start = end;
    }
    if (!found) return "it serves another map";
  }
  char state = 0;
  if (!handles::ProcessState(pid, &state) || state == 'Z' || state == 'X' || state == 'x') return "no such process";
  return std::string();
}

}  // namespace

int OpenProgramProcess(uint32_t pid, const std::vector<std::string>& programs, const std::string& argument,
                       std::string* why, bool* withoutHandle) {
  std::string dummy;
  bool dummyFlag = false;
  if (why == nullptr) why = &dummy;
  if (withoutHandle == nullptr) withoutHandle = &dummyFlag;
  *withoutHandle = false;
  if (pid == 0 || pid > static_cast<uint32_t>(INT_MAX)) {
    *why = "no process id";
    return 0;
  }
  // The pidfd is opened first: while its process runs, the pid cannot name another one,
  // so what /proc says of the pid afterwards is said of this process.
  int pidfd = handles::OpenPidfd(static_cast<pid_t>(pid));
  if (pidfd < 0) {
    if (errno != EMFILE && errno != ENFILE) {
      *why = "no such process";
      return 0;
    }
    // Every descriptor is taken: /proc alone says whether it is the map's server. It
    // cannot be supervised, but it must never be taken for a dead one.
    const int openError = errno;
    *why = ProgramProcessMismatch(pid, programs, argument);
    if (!why->empty()) return 0;
    *withoutHandle = true;
    *why = "no handle can be opened for it: " + std::string(std::strerror(openError));
    return 0;
  }
  *why = ProgramProcessMismatch(pid, programs, argument);
  pollfd p{pidfd, POLLIN, 0};
  if (poll(&p, 1, 0) != 0) *why = "no such process";
  if (!why->empty()) {
    close(pidfd);
    return 0;
  }
  return handles::Register(pidfd, pid, false, false);
}

std::vector<ProgramProcess> FindProgramProcesses(const std::vector<std::string>& programs) {
  std::vector<ProgramProcess> found;
  std::vector<std::string> wanted;
  for (const std::string& program : programs) {
    char resolved[PATH_MAX];
    wanted.push_back(realpath(program.c_str(), resolved) != nullptr ? resolved : program);
  }
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return found;
  const int procFd = dirfd(proc);
  const uid_t user = geteuid();
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const unsigned long pid = std::strtoul(entry->d_name, &end, 10);
    if (pid == 0 || *end != '\0' || pid > static_cast<unsigned long>(INT_MAX)) continue;
    struct stat st {};
    if (fstatat(procFd, entry->d_name, &st, 0) != 0 || st.st_uid != user) continue;
    const std::string exe = ProgramOf(procFd, entry->d_name);
    bool known = false;
    for (const std::string& program : wanted) known = known || exe == program;
    if (!known) continue;
    found.push_back(ProgramProcess{static_cast<uint32_t>(pid), ArgumentsOf(procFd, entry->d_name)});
  }
  closedir(proc);
  return found;
}

}  // namespace platform
