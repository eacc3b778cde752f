// Finding the running processes of given programs by one walk of /proc.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/process.h"

namespace platform {
namespace {

// The program of a process as /proc names it; a program replaced on disk while it runs
// reads "<path> (deleted)": still that program.
std::string ProgramOf(int procFd, const char* pid) {
  char target[PATH_MAX];
  const std::string link = std::string(pid) + "/exe";
  const ssize_t n = readlinkat(procFd, link.c_str(), target, sizeof target - 1);
  if (n <= 0) return std::string();
  std::string exe(target, static_cast<std::size_t>(n));
  static const std::string deleted = " (deleted)";
  if (exe.size() > deleted.size() && exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0)
    exe.resize(exe.size() - deleted.size());
  return exe;
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

}  // namespace

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
