// The starting helper (see process_spawner.h). After the fork the helper runs only
// async-signal-safe calls on static buffers: the manager that forked it has threads, and
// any of them may have held a lock of the C library at that moment.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/process_spawner.h"

namespace platform::spawner {
namespace {

constexpr std::size_t kMaxRequest = 512 * 1024;
constexpr uint32_t kMaxArgs = 1024;
constexpr uint32_t kMaxEnv = 4096;
constexpr int kHelperFd = 3;
// A process whose descriptor table has grown to this size starts through the helper.
constexpr long kWorthwhileTable = 1024;

// The helper's own state (after the fork; the manager never touches it).
alignas(16) char g_request[kMaxRequest];
char* g_argv[kMaxArgs + 1];
char* g_envp[kMaxEnv + 1];
const char* g_program = nullptr;
const char* g_dir = nullptr;
volatile int g_childError = 0;
alignas(16) char g_childStack[64 * 1024];

bool ReadAll(int fd, void* data, std::size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The started program, in the helper's memory until it executes (CLONE_VM | CLONE_VFORK).
int ChildMain(void*) {
  setsid();
  if (g_dir[0] != '\0' && chdir(g_dir) != 0) {
    g_childError = errno;
    _exit(127);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execve(g_program, g_argv, g_envp);
  g_childError = errno;
  _exit(127);
}

// Points `out` at `count` strings from `*p` on; false when the request ends first.
bool TakeStrings(char** p, const char* end, char** out, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    char* start = *p;
    while (*p < end && **p != '\0') ++*p;
    if (*p >= end) return false;
    out[i] = start;
    ++*p;
  }
  out[count] = nullptr;
  return true;
}

[[noreturn]] void HelperMain(int socket, pid_t manager) {
  // It ends when the manager's end of the socket closes (the manager ended), not by a
  // parent-death signal: that signal follows the thread that forked it, and the helper must
  // outlive a worker thread that happened to start the first program.
  if (getppid() != manager) _exit(0);
  if (socket != kHelperFd) {
    dup2(socket, kHelperFd);
    close(socket);
  }
  fcntl(kHelperFd, F_SETFD, FD_CLOEXEC);
  close_range(kHelperFd + 1, ~0U, 0);
  // The programs inherit the dispositions of ignored signals: every one at its default.
  // The helper itself blocks them all; the program unblocks them before it executes.
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  for (int s = 1; s < NSIG; ++s)
    if (s != SIGKILL && s != SIGSTOP) sigaction(s, &byDefault, nullptr);
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_SETMASK, &all, nullptr);
  for (;;) {
    uint32_t header[3];  // request size, argument count, environment count
    if (!ReadAll(kHelperFd, header, sizeof header)) _exit(0);
    if (header[0] > kMaxRequest || header[1] > kMaxArgs || header[2] > kMaxEnv) _exit(1);
    if (!ReadAll(kHelperFd, g_request, header[0])) _exit(0);
    char* p = g_request;
    const char* end = g_request + header[0];
    char* fixed[3];  // the directory, the program and an end mark
    if (!TakeStrings(&p, end, fixed, 2) || !TakeStrings(&p, end, g_argv, header[1]) ||
        !TakeStrings(&p, end, g_envp, header[2]))
      _exit(1);
    g_dir = fixed[0];
    g_program = fixed[1];
    g_childError = 0;
    const pid_t pid =
        clone(ChildMain, g_childStack + sizeof g_childStack, CLONE_VM | CLONE_VFORK | CLONE_PARENT | SIGCHLD, nullptr);
    const int32_t reply[2] = {pid < 0 ? errno : g_childError, pid < 0 ? 0 : pid};
    if (!WriteAll(kHelperFd, reply, sizeof reply)) _exit(0);
  }
}

// The manager's side.
std::mutex g_mutex;
int g_socket = -1;
pid_t g_helper = 0;
bool g_worthwhile = false;  // a descriptor table never shrinks: once true, always

bool StartHelperLocked() {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
  const pid_t manager = getpid();
  const pid_t pid = _Fork();
  if (pid == 0) HelperMain(pair[1], manager);
  close(pair[1]);
  if (pid < 0) {
    close(pair[0]);
    return false;
  }
  g_socket = pair[0];
  g_helper = pid;
  return true;
}

void StopHelperLocked() {
  if (g_socket >= 0) close(g_socket);
  g_socket = -1;
  if (g_helper > 0) {
    kill(g_helper, SIGKILL);
    while (waitpid(g_helper, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  g_helper = 0;
}

}  // namespace

bool Worthwhile() {
#if defined(__SANITIZE_THREAD__)
  return false;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
  return false;
#endif
#endif
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_worthwhile) return true;
  // FDSize in /proc/self/status: the size of the descriptor table.
  FILE* status = fopen("/proc/self/status", "re");
  if (status == nullptr) return false;
  char line[256];
  long size = 0;
  while (fgets(line, sizeof line, status) != nullptr)
    if (std::sscanf(line, "FDSize: %ld", &size) == 1) break;
  fclose(status);
  g_worthwhile = size >= kWorthwhileTable;
  return g_worthwhile;
}

int Spawn(const char* program, char* const argv[], char* const envp[], const char* dir, pid_t* pid) {
  std::vector<char> request(sizeof(uint32_t) * 3);
  auto add = [&request](const char* text) { request.insert(request.end(), text, text + std::strlen(text) + 1); };
  add(dir);
  add(program);
  uint32_t argc = 0, envc = 0;
  for (; argv[argc] != nullptr; ++argc) add(argv[argc]);
  for (; envp[envc] != nullptr; ++envc) add(envp[envc]);
  const std::size_t size = request.size() - sizeof(uint32_t) * 3;
  if (size > kMaxRequest || argc > kMaxArgs || envc > kMaxEnv) return -1;
  const uint32_t header[3] = {static_cast<uint32_t>(size), argc, envc};
  std::memcpy(request.data(), header, sizeof header);

  std::lock_guard<std::mutex> lock(g_mutex);
  // A helper that died (killed by someone) is started again, once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (g_socket < 0 && !StartHelperLocked()) break;  // no descriptors for now, or no fork
    int32_t reply[2];
    if (!WriteAll(g_socket, request.data(), request.size()) || !ReadAll(g_socket, reply, sizeof reply)) {
      StopHelperLocked();
      continue;
    }
    if (reply[0] != 0) {
      // The program did not execute; its process, our child, ended at once.
      if (reply[1] > 0)
        while (waitpid(reply[1], nullptr, 0) < 0 && errno == EINTR) {
        }
      return reply[0];
    }
    *pid = reply[1];
    return 0;
  }
  return -1;
}

}  // namespace platform::spawner
