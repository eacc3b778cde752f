// Processes on Linux: the table of pidfd handles, liveness, kills and waits through them,
// reaping of our exited children (watched through one epoll descriptor), and CPU and memory
// figures read through a handle. The check of a process by program, user and argument is in
// process_scan_linux.cpp.
#include "platform/process.h"
#include "platform/process_parsers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <span>

#include "platform/debug_output.h"
#include "platform/paths.h"
#include "platform/proc_text.h"
#include "platform/process_handles.h"
#include "text/Text.h"

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

namespace platform {
namespace {

using proc_text::ParseStatPageFaults;
using proc_text::StatFields;

// What we know about each open handle: the process it was opened for and, once that
// process has been reaped by us, how it ended. Reaping frees the pid for reuse, so the
// exit code must be kept here or it is lost.
struct HandleRecord {
  uint32_t pid = 0;
  bool ended = false;
  int exitCode = 0;
  bool child = false;  // started by us: ours to reap
  // /proc/<pid>/stat and /proc/<pid>/status, each opened on its first reading while the
  // process ran. An open file belongs to that process and never to a later one with the
  // same pid (it reads as an error once the process is gone), so the refresh tick reads it
  // again instead of opening and parsing a path every second.
  int statFd = -1;
  int statusFd = -1;
};

std::mutex g_mutex;
std::map<int, HandleRecord> g_handles;  // pidfd -> record
// Children whose handles were closed while they still ran: their pidfds are kept so that
// they can be reaped once they end (exactly them, whatever becomes of their pids), instead
// of lingering as zombies for as long as we run.
std::vector<int> g_orphans;
// Every child's first pidfd, watched for its end (ReapEndedChildren): a child is reaped as
// soon as its owner looks, not when someone next asks about its pid.
int g_childWatch = -1;
// One descriptor kept in reserve, given up for a moment to read a /proc file when every
// other descriptor is taken: the test of whether a process is a map server must not fail
// exactly when the limit is reached.
int g_reserveFd = -1;

int ExitCodeOf(int siCode, int siStatus) {
  if (siCode == CLD_EXITED) return siStatus;
  return 128 + siStatus;  // killed or dumped: 128 + the signal, as a shell reports it
}

// Notes how the child `pid` ended in every live handle opened for it (the lock is held).
void MarkReapedLocked(uint32_t pid, int exitCode) {
  for (auto& [fd, record] : g_handles) {
    if (record.pid == pid && !record.ended) {
      record.ended = true;
      record.exitCode = exitCode;
    }
  }
}

// Reaps the child behind `pidfd` when it has ended (the lock is held). True when it is
// reaped now or was reaped already; `*reapedNow` tells which, with its exit code.
bool ReapLocked(int pidfd, uint32_t pid, bool* reapedNow, int* exitCode) {
  siginfo_t si{};
  const int rc = waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), &si, WEXITED | WNOHANG);
  *reapedNow = rc == 0 && si.si_pid != 0;
  if (*reapedNow) {
    *exitCode = ExitCodeOf(si.si_code, si.si_status);
    MarkReapedLocked(pid != 0 ? pid : static_cast<uint32_t>(si.si_pid), *exitCode);
    return true;
  }
  return rc != 0 && errno == ECHILD;
}

void UnwatchLocked(int pidfd) {
  if (g_childWatch >= 0) epoll_ctl(g_childWatch, EPOLL_CTL_DEL, pidfd, nullptr);
}

void ReapOrphans() {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (std::size_t i = 0; i < g_orphans.size();) {
    bool reapedNow = false;
    int exitCode = 0;
    if (ReapLocked(g_orphans[i], 0, &reapedNow, &exitCode)) {
      UnwatchLocked(g_orphans[i]);
      close(g_orphans[i]);  // reaped now, or already by IsProcessAlive
      g_orphans.erase(g_orphans.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
}

int PidfdOpen(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

bool ReadProcFile(const std::string& path, std::string* text);

bool ProcStatState(uint32_t pid, char* state) {
  std::string text;
  if (!ReadProcFile("/proc/" + std::to_string(pid) + "/stat", &text)) return false;
  StatFields fields(text);
  const std::string_view field = fields.Valid() ? fields.Next() : std::string_view();
  if (field.empty()) return false;
  *state = field[0];
  return true;
}

int HandleFd(int handle) { return handle > 0 ? handle - 1 : -1; }

bool KnownHandle(int handle, HandleRecord* record) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_handles.find(HandleFd(handle));
  if (it == g_handles.end()) return false;
  if (record != nullptr) *record = it->second;
  return true;
}

// True while the handle's process has not ended (its pidfd turns readable when it does).
bool HandleProcessRunning(int handle) {
  pollfd p{HandleFd(handle), POLLIN, 0};
  return poll(&p, 1, 0) == 0;
}

// Opens the reserve descriptor unless it is open (the lock is held).
void KeepReserveLocked() {
  if (g_reserveFd < 0) g_reserveFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
}

int RegisterHandle(int pidfd, uint32_t pid, bool child, bool watch) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_handles[pidfd] = HandleRecord{pid, false, 0, child};
  if (child) KeepReserveLocked();
  if (watch) {
    if (g_childWatch < 0) g_childWatch = epoll_create1(EPOLL_CLOEXEC);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = pidfd;
    if (g_childWatch >= 0) epoll_ctl(g_childWatch, EPOLL_CTL_ADD, pidfd, &event);
  }
  return pidfd + 1;
}

// Reads a small /proc file whole into `text`; with every descriptor taken, the reserve is
// given up for the moment of the read.
bool ReadProcFile(const std::string& path, std::string* text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  bool usedReserve = false;
  std::unique_lock<std::mutex> lock(g_mutex, std::defer_lock);
  if (fd < 0 && (errno == EMFILE || errno == ENFILE)) {
    lock.lock();
    if (g_reserveFd >= 0) {
      close(g_reserveFd);
      g_reserveFd = -1;
      usedReserve = true;
      fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
  }
  bool ok = false;
  if (fd >= 0) {
    text->clear();
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) text->append(buffer, static_cast<std::size_t>(n));
    ok = n == 0 && !text->empty();
    close(fd);
  }
  if (usedReserve) g_reserveFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  return ok;
}

}  // namespace

namespace handles {
void KeepReserve() {
  std::lock_guard<std::mutex> lock(g_mutex);
  KeepReserveLocked();
}
int Register(int pidfd, uint32_t pid, bool child, bool watch) { return RegisterHandle(pidfd, pid, child, watch); }
int OpenPidfd(pid_t pid) { return PidfdOpen(pid); }
void ReapClosedChildren() { ReapOrphans(); }
bool ReadProc(const std::string& path, std::string* text) { return ReadProcFile(path, text); }
bool ProcessState(uint32_t pid, char* state) { return ProcStatState(pid, state); }
}  // namespace handles

bool IsProcessAlive(uint32_t pid) {
  if (pid == 0 || pid > static_cast<uint32_t>(INT_MAX)) return false;
  ReapOrphans();
  // A child we started: ask its own handle, and reap it through that handle when it has
  // ended, so that it never lingers as a zombie. Other children are not ours to reap.
  std::vector<int> handles;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const auto& [fd, record] : g_handles)
      if (record.pid == pid && record.child && !record.ended) handles.push_back(fd + 1);
  }
  for (int handle : handles) {
    if (HandleProcessRunning(handle)) return true;
    int ignored = 0;
    WaitForProcess(handle, 0, &ignored);  // reaps it and keeps its exit code
  }
  char state = 0;
  if (!ProcStatState(pid, &state)) return false;
  return state != 'Z' && state != 'X' && state != 'x';
}

int OpenProcessHandle(uint32_t pid) {
  if (pid == 0 || pid > static_cast<uint32_t>(INT_MAX)) return 0;
  int pidfd = PidfdOpen(static_cast<pid_t>(pid));
  if (pidfd < 0) return 0;
  return RegisterHandle(pidfd, pid, false, false);
}

int DuplicateProcessHandle(int handle) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_handles.find(HandleFd(handle));
  if (it == g_handles.end()) return 0;
  const int copy = fcntl(it->first, F_DUPFD_CLOEXEC, 3);
  if (copy < 0) return 0;
  HandleRecord record = it->second;
  record.statFd = -1;
  record.statusFd = -1;
  g_handles[copy] = record;
  return copy + 1;
}

int ChildEndWatchFd() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_childWatch < 0) g_childWatch = epoll_create1(EPOLL_CLOEXEC);
  return g_childWatch;
}

std::vector<EndedChild> ReapEndedChildren() {
  std::vector<EndedChild> ended;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_childWatch < 0) return ended;
  epoll_event events[64];
  // Level-triggered: what is left after a bounded number of rounds is seen on the next call.
  int n;
  for (int round = 0; round < 64 && (n = epoll_wait(g_childWatch, events, 64, 0)) > 0; ++round) {
    for (int i = 0; i < n; ++i) {
      const int fd = events[i].data.fd;
      auto it = g_handles.find(fd);
      const uint32_t pid = it != g_handles.end() ? it->second.pid : 0;
      bool reapedNow = false;
      int exitCode = 0;
      if (!ReapLocked(fd, pid, &reapedNow, &exitCode)) continue;  // readable but not yet reapable
      UnwatchLocked(fd);
      if (reapedNow && pid != 0) ended.push_back(EndedChild{pid, exitCode});
      if (it == g_handles.end()) {
        // An orphan: its handle was closed while it ran; now it is gone for good.
        for (std::size_t o = 0; o < g_orphans.size(); ++o)
          if (g_orphans[o] == fd) {
            g_orphans.erase(g_orphans.begin() + static_cast<std::ptrdiff_t>(o));
            close(fd);
            break;
          }
      }
    }
    if (n < 64) break;
  }
  return ended;
}

bool IsProcessHandleRunning(int handle) {
  HandleRecord record;
  if (!KnownHandle(handle, &record) || record.ended) return false;
  return HandleProcessRunning(handle);
}

void CloseProcessHandle(int handle) {
  int fd = HandleFd(handle);
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_handles.find(fd);
    if (it == g_handles.end()) return;  // not a handle of ours: never close a stranger's descriptor
    bool unreapedChild = it->second.child && !it->second.ended;
    const uint32_t pid = it->second.pid;
    if (it->second.statFd >= 0) close(it->second.statFd);
    if (it->second.statusFd >= 0) close(it->second.statusFd);
    g_handles.erase(it);
    // Another handle of the same child (a copy) still watches it and will reap it.
    for (const auto& [otherFd, other] : g_handles)
      if (other.pid == pid && other.child && !other.ended) unreapedChild = false;
    if (unreapedChild) {
      g_orphans.push_back(fd);
    } else {
      UnwatchLocked(fd);
      close(fd);
    }
  }
  ReapOrphans();
}

void CloseProcessHandles(ProcessInformation& info) {
  CloseProcessHandle(info.ProcessHandle);
  info.ProcessHandle = 0;
  info.ThreadHandle = 0;
}

bool TerminateProcess(int handle, int exitCode) {
  int fd = HandleFd(handle);
  // Under the lock, so that the descriptor cannot be closed (and reused for another
  // process) by another thread between the check and the signal.
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_handles.find(fd);
  if (it == g_handles.end() || it->second.ended) return false;
  // A process that has ended (a zombie not yet reaped) is gone: nothing to kill.
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 0) > 0) return false;
  int sig = exitCode == -1 ? SIGKILL : SIGTERM;
  return syscall(SYS_pidfd_send_signal, fd, sig, nullptr, 0) == 0;
}

bool WaitForProcess(int handle, int timeoutMs, int* exitCode) {
  int dummy = 0;
  if (exitCode == nullptr) exitCode = &dummy;
  HandleRecord record;
  if (!KnownHandle(handle, &record)) return false;
  if (record.ended) {
    *exitCode = record.exitCode;
    return true;
  }
  int fd = HandleFd(handle);
  pollfd p{fd, POLLIN, 0};
  int rc;
  do {
    rc = poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
  } while (rc < 0 && errno == EINTR);
  if (rc <= 0) return false;  // still running (or poll failed)

  {
    std::lock_guard<std::mutex> lock(g_mutex);
    bool reapedNow = false;
    int code = 0;
    if (ReapLocked(fd, record.pid, &reapedNow, &code) && reapedNow) {
      UnwatchLocked(fd);
      *exitCode = code;
      return true;
    }
  }
  // Reaped elsewhere (IsProcessAlive on another thread) or not our child at all.
  if (KnownHandle(handle, &record) && record.ended) {
    *exitCode = record.exitCode;
    return true;
  }
  // Only a parent learns the exit code; of another process we only know that it ended.
  *exitCode = 0;
  return true;
}

uint32_t ProcessIdOfHandle(int handle) {
  HandleRecord record;
  if (!KnownHandle(handle, &record)) return 0;
  return record.pid;
}

namespace {

// The /proc files a handle keeps open for its process's figures.
struct ProcFile {
  int HandleRecord::*member;
  const char* name;
};
constexpr ProcFile kStatFile{&HandleRecord::statFd, "stat"};
constexpr ProcFile kStatusFile{&HandleRecord::statusFd, "status"};

// Opens the file for the handle's process unless the handle holds it already; false when
// the process has ended or the file cannot be opened.
bool KeepProcFileOpen(int handle, const HandleRecord& record, const ProcFile& file) {
  if (record.*file.member >= 0) return true;
  // The pid may name another process once ours has ended; a file opened while ours was
  // still running before and after is certainly ours.
  const std::string path = "/proc/" + std::to_string(record.pid) + "/" + file.name;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  if (!HandleProcessRunning(handle)) {
    close(fd);
    return false;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_handles.find(HandleFd(handle));
  if (it == g_handles.end() || it->second.*file.member >= 0)
    close(fd);  // closed meanwhile, or another thread opened it first
  else
    it->second.*file.member = fd;
  return true;
}

// Reads the handle's kept-open stat file, and its status file when `status` is given, from
// their start; the lengths read. False when the process has ended or a file cannot be read.
bool ReadProcFilesOfHandle(int handle, std::span<char> stat, std::size_t* statLength, std::span<char> status,
                           std::size_t* statusLength) {
  HandleRecord record;
  if (!KnownHandle(handle, &record) || record.ended || !HandleProcessRunning(handle)) return false;
  const bool withStatus = !status.empty();
  if (!KeepProcFileOpen(handle, record, kStatFile) || (withStatus && !KeepProcFileOpen(handle, record, kStatusFile)))
    return false;
  // Read under the lock: the files are closed with their handle, and a descriptor must not
  // be taken by another file between the look-up and the read.
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_handles.find(HandleFd(handle));
  if (it == g_handles.end()) return false;
  const ssize_t statRead = pread(it->second.statFd, stat.data(), stat.size(), 0);
  if (statRead <= 0) return false;
  *statLength = static_cast<std::size_t>(statRead);
  if (!withStatus) return true;
  const ssize_t statusRead = pread(it->second.statusFd, status.data(), status.size(), 0);
  if (statusRead <= 0) return false;
  *statusLength = static_cast<std::size_t>(statusRead);
  return true;
}

}  // namespace

bool GetProcessUsageByHandle(int handle, CpuTimes* times, MemoryCounters* memory) {
  // The stat line is some 300 bytes and the status text some 1,500; the memory lines come
  // early in it.
  char stat[1024];
  char status[4096];
  std::size_t statLength = 0, statusLength = 0;
  if (!ReadProcFilesOfHandle(handle, stat, &statLength, memory != nullptr ? std::span<char>(status) : std::span<char>(),
                             &statusLength))
    return false;
  const std::string_view statText(stat, statLength);
  CpuTimes readTimes;
  if (!ParseProcStatTimes(statText, &readTimes)) return false;
  MemoryCounters readMemory;
  if (memory != nullptr) {
    if (!ParseProcStatus(std::string_view(status, statusLength), &readMemory)) return false;
    uint64_t faults = 0;
    if (ParseStatPageFaults(statText, &faults)) readMemory.PageFaultCount = static_cast<uint32_t>(faults);
  }
  if (times != nullptr) *times = readTimes;
  if (memory != nullptr) *memory = readMemory;
  return true;
}

bool GetProcessTimesByHandle(int handle, CpuTimes* times) { return GetProcessUsageByHandle(handle, times, nullptr); }

bool GetMemoryCountersByHandle(int handle, MemoryCounters* counters) {
  return GetProcessUsageByHandle(handle, nullptr, counters);
}

}  // namespace platform
