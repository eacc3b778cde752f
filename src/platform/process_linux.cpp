// Processes on Linux: fork/exec in a session of their own, pidfds as handles, reaping of
// our exited children, and CPU and memory figures from /proc.
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <signal.h>
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

#include "common/Text.h"
#include "platform/debug_output.h"
#include "platform/paths.h"

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

extern char** environ;

namespace platform {
namespace {

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

void ReapOrphans() {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (std::size_t i = 0; i < g_orphans.size();) {
    siginfo_t si{};
    int rc = waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(g_orphans[i]), &si, WEXITED | WNOHANG);
    if ((rc == 0 && si.si_pid != 0) || (rc != 0 && errno == ECHILD)) {
      close(g_orphans[i]);  // reaped now, or already by IsProcessAlive
      g_orphans.erase(g_orphans.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
}

int PidfdOpen(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

int ExitCodeOf(int siCode, int siStatus) {
  if (siCode == CLD_EXITED) return siStatus;
  return 128 + siStatus;  // killed or dumped: 128 + the signal, as a shell reports it
}

// Called with the exit code of a child we have just reaped: the live handle opened for
// it keeps the code (an older handle with the same pid has ended already).
void RecordReaped(uint32_t pid, int exitCode) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (auto& [fd, record] : g_handles) {
    if (record.pid == pid && !record.ended) {
      record.ended = true;
      record.exitCode = exitCode;
    }
  }
}

// A /proc file; an empty one (the process is gone) counts as unreadable.
bool ReadFile(const std::string& path, std::string* text) { return ReadWholeFile(path, *text) && !text->empty(); }

bool ParseUnsigned(std::string_view text, uint64_t* value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  uint64_t v = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  *value = v;
  return true;
}

// Walks the fields of a /proc stat line after the command name (which may hold blanks and
// parentheses; it ends at the last ')'), without allocating. Field 0 is the state (field 3
// of the line).
class StatFields {
 public:
  explicit StatFields(std::string_view statText) {
    const std::size_t close = statText.rfind(')');
    m_Valid = close != std::string_view::npos;
    if (m_Valid) m_Rest = statText.substr(close + 1);
  }
  bool Valid() const { return m_Valid; }
  // The next field; empty at the end.
  std::string_view Next() {
    const std::size_t start = m_Rest.find_first_not_of(" \t\n");
    if (start == std::string_view::npos) {
      m_Rest = std::string_view();
      return std::string_view();
    }
    const std::size_t end = m_Rest.find_first_of(" \t\n", start);
    const std::string_view field = m_Rest.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    m_Rest = end == std::string_view::npos ? std::string_view() : m_Rest.substr(end);
    return field;
  }
  // Skips `count` fields; false when the line ends first.
  bool Skip(int count) {
    for (int i = 0; i < count; ++i)
      if (Next().empty()) return false;
    return true;
  }

 private:
  bool m_Valid = false;
  std::string_view m_Rest;
};

// Minor and major page faults: fields 10 and 12 of a stat line (7 and 9 after the name).
bool ParseStatPageFaults(std::string_view statText, uint64_t* faults) {
  StatFields fields(statText);
  uint64_t minor = 0, major = 0;
  if (!fields.Valid() || !fields.Skip(7) || !ParseUnsigned(fields.Next(), &minor) || !fields.Skip(1) ||
      !ParseUnsigned(fields.Next(), &major))
    return false;
  *faults = minor + major;
  return true;
}

uint64_t TicksTo100ns(uint64_t ticks) {
  static const long ticksPerSecond = sysconf(_SC_CLK_TCK) > 0 ? sysconf(_SC_CLK_TCK) : 100;
  return ticks * (10000000ULL / static_cast<uint64_t>(ticksPerSecond));
}

bool ProcStatState(uint32_t pid, char* state) {
  std::string text;
  if (!ReadFile("/proc/" + std::to_string(pid) + "/stat", &text)) return false;
  StatFields fields(text);
  const std::string_view field = fields.Valid() ? fields.Next() : std::string_view();
  if (field.empty()) return false;
  *state = field[0];
  return true;
}

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

int RegisterHandle(int pidfd, uint32_t pid, bool child) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_handles[pidfd] = HandleRecord{pid, false, 0, child};
  return pidfd + 1;
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
// with threads nothing of ours runs in the child between the clone and the exec.
bool StartProgram(const std::string& program, std::vector<std::string> args, const std::string& dir,
                  ProcessInformation* info, int* errorCode) {
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

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
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) {
    *errorCode = rc;
    return false;
  }
  // Opened at once: the child cannot be reaped by anyone but us, so the pid is still its.
  int pidfd = PidfdOpen(pid);
  const int pidfdError = errno;

  int handle = 0;
  if (pidfd >= 0) {
    handle = RegisterHandle(pidfd, static_cast<uint32_t>(pid), true);
  } else {
    OutputDebugString("StartProcess: pidfd_open failed, errno=" + std::to_string(pidfdError));
  }
  info->ProcessHandle = handle;
  info->ThreadHandle = 0;
  info->ProcessId = static_cast<uint32_t>(pid);
  info->ThreadId = static_cast<uint32_t>(pid);
  return true;
}

}  // namespace

bool StartProcess(const std::string& commandLine, const std::string& workDir, bool wait,
                  ProcessInformation* info, int* errorCode) {
  int dummyCode = 0;
  if (errorCode == nullptr) errorCode = &dummyCode;
  *errorCode = 0;
  if (info != nullptr) *info = ProcessInformation{};

  ReapOrphans();
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
    if (started.ProcessHandle != 0) {
      WaitForProcess(started.ProcessHandle, -1, &exitCode);
    } else {
      int status = 0;
      while (waitpid(static_cast<pid_t>(started.ProcessId), &status, 0) < 0 && errno == EINTR) {
      }
    }
  }
  if (info != nullptr) *info = started;
  else if (started.ProcessHandle != 0) CloseProcessHandle(started.ProcessHandle);
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
  return RegisterHandle(pidfd, pid, false);
}

int OpenProgramProcess(uint32_t pid, const std::vector<std::string>& programs, std::string* why) {
  std::string dummy;
  if (why == nullptr) why = &dummy;
  if (pid == 0 || pid > static_cast<uint32_t>(INT_MAX)) {
    *why = "no process id";
    return 0;
  }
  // The pidfd is opened first: while its process runs, the pid cannot name another one,
  // so what /proc says of the pid afterwards is said of this process.
  int pidfd = PidfdOpen(static_cast<pid_t>(pid));
  if (pidfd < 0) {
    *why = "no such process";
    return 0;
  }
  const std::string proc = "/proc/" + std::to_string(pid);
  char target[PATH_MAX];
  ssize_t n = readlink((proc + "/exe").c_str(), target, sizeof target - 1);
  struct stat st {};
  bool statOk = stat(proc.c_str(), &st) == 0;
  pollfd p{pidfd, POLLIN, 0};
  bool running = poll(&p, 1, 0) == 0;
  if (!running) {
    close(pidfd);
    *why = "no such process";
    return 0;
  }
  if (!statOk || st.st_uid != geteuid()) {
    close(pidfd);
    *why = "the process belongs to another user";
    return 0;
  }
  if (n <= 0) {
    close(pidfd);
    *why = "its program cannot be read";
    return 0;
  }
  std::string exe(target, static_cast<std::size_t>(n));
  // A program replaced on disk while it runs reads "<path> (deleted)": still that program.
  const std::string deleted = " (deleted)";
  if (exe.size() > deleted.size() && exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0)
    exe.resize(exe.size() - deleted.size());
  for (const std::string& program : programs) {
    char resolved[PATH_MAX];
    const std::string wanted = realpath(program.c_str(), resolved) != nullptr ? resolved : program;
    if (exe == wanted) return RegisterHandle(pidfd, pid, false);
  }
  close(pidfd);
  *why = "it runs " + exe;
  return 0;
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
    if (it->second.statFd >= 0) close(it->second.statFd);
    if (it->second.statusFd >= 0) close(it->second.statusFd);
    g_handles.erase(it);
    if (unreapedChild) g_orphans.push_back(fd);
    else close(fd);
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

  siginfo_t si{};
  if (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(fd), &si, WEXITED | WNOHANG) == 0 && si.si_pid != 0) {
    *exitCode = ExitCodeOf(si.si_code, si.si_status);
    RecordReaped(record.pid, *exitCode);
    return true;
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

bool ParseProcStatTimes(std::string_view statText, CpuTimes* times) {
  // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
  StatFields fields(statText);
  if (!fields.Valid() || !fields.Skip(11)) return false;
  uint64_t utime = 0, stime = 0;
  if (!ParseUnsigned(fields.Next(), &utime) || !ParseUnsigned(fields.Next(), &stime)) return false;
  if (times != nullptr) {
    times->User = TicksTo100ns(utime);
    times->Kernel = TicksTo100ns(stime);
  }
  return true;
}

bool ParseProcStatus(std::string_view statusText, MemoryCounters* counters) {
  uint64_t rss = 0, hwm = 0, anon = 0, swap = 0;
  bool haveRss = false;
  int found = 0;
  // The four lines lie in the first half of the text: the rest is not looked at.
  while (!statusText.empty() && found < 4) {
    const std::size_t newline = statusText.find('\n');
    const std::string_view line = statusText.substr(0, newline);
    statusText = newline == std::string_view::npos ? std::string_view() : statusText.substr(newline + 1);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view key = line.substr(0, colon);
    uint64_t* target = nullptr;
    if (key == "VmRSS") target = &rss;
    else if (key == "VmHWM") target = &hwm;
    else if (key == "RssAnon") target = &anon;
    else if (key == "VmSwap") target = &swap;
    if (target == nullptr) continue;
    // "<blanks><number>[<blanks>kB]"
    std::string_view value = line.substr(colon + 1);
    const std::size_t start = value.find_first_not_of(" \t");
    if (start == std::string_view::npos) return false;
    value = value.substr(start);
    const std::size_t numberEnd = value.find_first_of(" \t");
    const std::string_view number = value.substr(0, numberEnd);
    std::string_view unit = numberEnd == std::string_view::npos ? std::string_view() : value.substr(numberEnd);
    const std::size_t unitStart = unit.find_first_not_of(" \t");
    unit = unitStart == std::string_view::npos ? std::string_view() : unit.substr(unitStart);
    if (const std::size_t unitEnd = unit.find_last_not_of(" \t\r"); unitEnd != std::string_view::npos)
      unit = unit.substr(0, unitEnd + 1);
    uint64_t kb = 0;
    if (!ParseUnsigned(number, &kb) || (unit != "kB" && !unit.empty())) return false;
    if (kb > UINT64_MAX / 1024) return false;
    *target = kb * 1024;
    if (target == &rss) haveRss = true;
    ++found;
  }
  // A kernel thread or a zombie has no memory lines: that is no figure at all.
  if (!haveRss) return false;
  if (counters != nullptr) {
    counters->WorkingSetSize = rss;
    counters->PeakWorkingSetSize = hwm > rss ? hwm : rss;
    counters->PagefileUsage = anon + swap;
    // The kernel keeps no high-water mark of private memory; the current figure is the
    // peak as far as one reading can tell.
    counters->PeakPagefileUsage = counters->PagefileUsage;
  }
  return true;
}

double ProcessStartTime(uint32_t pid) {
  std::string text;
  if (pid == 0 || !ReadFile("/proc/" + std::to_string(pid) + "/stat", &text)) return 0;
  // starttime is field 22, in clock ticks since boot: field 20 after the name's ')'.
  std::size_t at = text.rfind(')');
  if (at == std::string::npos) return 0;
  for (int field = 0; field < 20 && at != std::string::npos; ++field) at = text.find(' ', at + 1);
  if (at == std::string::npos) return 0;
  unsigned long long ticks = 0;
  const char* begin = text.data() + at + 1;
  if (std::from_chars(begin, text.data() + text.size(), ticks).ec != std::errc()) return 0;
  timespec real{}, boot{};
  clock_gettime(CLOCK_REALTIME, &real);
  clock_gettime(CLOCK_BOOTTIME, &boot);
  const double bootedAt = (real.tv_sec - boot.tv_sec) + (real.tv_nsec - boot.tv_nsec) / 1e9;
  return bootedAt + static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

bool GetProcessTimes(uint32_t pid, CpuTimes* times) {
  if (pid == 0) return false;
  std::string text;
  if (!ReadFile("/proc/" + std::to_string(pid) + "/stat", &text)) return false;
  return ParseProcStatTimes(text, times);
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

bool GetThreadTimes(uint32_t pid, uint32_t tid, CpuTimes* times) {
  if (pid == 0 || tid == 0) return false;
  std::string text;
  if (!ReadFile("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/stat", &text)) return false;
  return ParseProcStatTimes(text, times);
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }
uint32_t CurrentThreadId() { return static_cast<uint32_t>(gettid()); }

bool GetMemoryCounters(uint32_t pid, MemoryCounters* counters) {
  if (pid == 0) return false;
  std::string text;
  if (!ReadFile("/proc/" + std::to_string(pid) + "/status", &text)) return false;
  MemoryCounters parsed;
  if (!ParseProcStatus(text, &parsed)) return false;
  std::string stat;
  uint64_t faults = 0;
  if (ReadFile("/proc/" + std::to_string(pid) + "/stat", &stat) && ParseStatPageFaults(stat, &faults))
    parsed.PageFaultCount = static_cast<uint32_t>(faults);
  if (counters != nullptr) *counters = parsed;
  return true;
}

bool GetMemoryCountersByHandle(int handle, MemoryCounters* counters) {
  return GetProcessUsageByHandle(handle, nullptr, counters);
}

int ProcessorCount() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

uint64_t RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return static_cast<uint64_t>(limit.rlim_cur);
}

void SleepMs(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
