// Processes: start, liveness, kill, wait, CPU times and memory counters.
//
// A started process runs in a session of its own, so that a map server outlives the
// manager and its terminal. Its handle is a pidfd: signals go through it, so a recycled
// process id is never signalled. Exited children are reaped and never reported alive.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// What a start returns; the caller owns the handles (CloseProcessHandles).
struct ProcessInformation {
  int ProcessHandle = 0;  // pidfd + 1 (0 means none, as a null Windows handle)
  int ThreadHandle = 0;   // no separate thread handle on Linux: 0
  uint32_t ProcessId = 0;
  uint32_t ThreadId = 0;  // the first thread's id, equal to the process id
};

// Splits a command line at blanks (a part in double quotes keeps its blanks; the quotes go).
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Starts the command line (the first word is a logical file name, mapped by LogicalFileName)
// in `workDir` ("" = the current one). Returns false with `*errorCode` (an errno value) when
// the program could not be executed. `wait` blocks until the process has ended.
bool StartProcess(const std::string& commandLine, const std::string& workDir, bool wait, ProcessInformation* info,
                  int* errorCode);

// Starts /bin/sh -c `command` in `workDir` and waits for it to end. True with the exit code
// (128 + n after a death by signal n) when the shell could be started.
bool RunShellCommand(const std::string& command, const std::string& workDir, int* exitCode);

// True when the id is not 0 and a process with that id exists (not a zombie). A child that
// this layer started and that has ended is reaped here through its own handle; no other
// child is ever reaped.
bool IsProcessAlive(uint32_t pid);

// A handle (pidfd + 1) for an existing process, or 0.
int OpenProcessHandle(uint32_t pid);
// A handle for the process `pid` only when it runs one of `programs` (absolute paths of
// executables) under this process's user with `argument` among its arguments (none asked
// when ""); 0 otherwise, with the reason in `*why`. The check is made through the handle,
// so a pid recycled meanwhile is never taken. When every descriptor is taken the check is
// made from /proc alone: a process that passes it gives 0 with `*withoutHandle` set, so the
// caller knows that it runs although it cannot be supervised.
int OpenProgramProcess(uint32_t pid, const std::vector<std::string>& programs, const std::string& argument,
                       std::string* why, bool* withoutHandle = nullptr);
// The processes of `programs` (absolute paths of executables) that run under this
// process's user, with their arguments (the program's own name left out), from one walk of
// /proc. What it finds may end or change meanwhile: OpenProgramProcess checks one again.
struct ProgramProcess {
  uint32_t ProcessId = 0;
  std::vector<std::string> Arguments;
};
std::vector<ProgramProcess> FindProgramProcesses(const std::vector<std::string>& programs);
// A second handle for the same process, closed by its own CloseProcessHandle: whoever keeps
// it can signal exactly that process even after the first handle is closed. 0 on failure.
int DuplicateProcessHandle(int handle);

// A descriptor that turns readable when a child started here ends (an epoll descriptor
// over the children's handles), for an event loop to watch.
int ChildEndWatchFd();
struct EndedChild {
  uint32_t ProcessId = 0;
  int ExitCode = 0;  // 128 + n after a death by signal n
};
// Reaps every child started here that has ended, without waiting, and returns them; their
// handles report the end and its exit code from then on.
std::vector<EndedChild> ReapEndedChildren();
// True while the process behind the handle runs (it has not ended).
bool IsProcessHandleRunning(int handle);
void CloseProcessHandle(int handle);
void CloseProcessHandles(ProcessInformation& info);

// Kills through the handle (exit code -1 is SIGKILL, other codes SIGTERM). False when the
// process is gone or the kill is refused.
bool TerminateProcess(int handle, int exitCode);
// Waits up to `timeoutMs` (-1: forever) for the end. True with the exit code when it ended
// (a death by signal n gives 128 + n).
bool WaitForProcess(int handle, int timeoutMs, int* exitCode);
// The pid behind a handle, 0 when none.
uint32_t ProcessIdOfHandle(int handle);

// Kernel and user times in 100-ns units.
struct CpuTimes {
  uint64_t Kernel = 0;
  uint64_t User = 0;
};
bool GetProcessTimes(uint32_t pid, CpuTimes* times);
bool GetProcessTimesByHandle(int handle, CpuTimes* times);
bool GetThreadTimes(uint32_t pid, uint32_t tid, CpuTimes* times);
uint32_t CurrentProcessId();
uint32_t CurrentThreadId();

// Process memory counters in bytes, named as on Windows.
// WorkingSetSize is VmRSS; PagefileUsage is the private committed memory (RssAnon + VmSwap).
struct MemoryCounters {
  uint32_t PageFaultCount = 0;
  uint64_t PeakWorkingSetSize = 0;
  uint64_t WorkingSetSize = 0;
  uint64_t PagefileUsage = 0;
  uint64_t PeakPagefileUsage = 0;
};
bool GetMemoryCounters(uint32_t pid, MemoryCounters* counters);
bool GetMemoryCountersByHandle(int handle, MemoryCounters* counters);
// CPU times and, when `memory` is given, memory counters of the handle's process in one
// reading. The handle keeps the process's /proc files open, so a reading parses what it
// reads again without opening a path or allocating: the form for a sample every second of
// many processes. False when the process has ended or either figure cannot be read.
bool GetProcessUsageByHandle(int handle, CpuTimes* times, MemoryCounters* memory);

// When the process started, in seconds since the epoch; 0 when it cannot be read.
double ProcessStartTime(uint32_t pid);

// Parsers of /proc texts, kept apart so that tests can feed saved samples.
bool ParseProcStatTimes(std::string_view statText, CpuTimes* times);
bool ParseProcStatus(std::string_view statusText, MemoryCounters* counters);

int ProcessorCount();
void SleepMs(uint32_t ms);

// Raises this process's limit of open descriptors to the hard limit. Every managed map keeps
// its shared record open, so the common soft limit of 1,024 would leave large map lists
// without records. It also sets one descriptor aside for reading /proc once every other
// one is taken. Returns the limit in force afterwards.
uint64_t RaiseOpenFileLimit();
// The limit of open descriptors in force (the soft limit).
uint64_t OpenFileLimit();

// Registers `hook` to run when EndProcess ends this process (once, however often it is
// registered; the latest first). A component registers its flush once it has loaded, so a
// failure while it loads never runs it. Up to 16 hooks; any thread.
void AtEndProcess(void (*hook)());
// The one way this process ends at once, from any thread: sends the bus left waiting for a
// full receiver (up to a second), runs the hooks of AtEndProcess, lets go of the shared
// segments it holds (a name nobody else holds goes with it), flushes standard I/O and exits
// with `exitCode` without running destructors. Not for a signal handler.
[[noreturn]] void EndProcess(int exitCode);

}  // namespace platform
