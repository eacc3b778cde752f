// Liveness, kill and wait, through process handles. A handle is a pidfd: signals go
// through it, so a recycled process id is never signalled. Exited children are reaped and
// never reported alive. ProcessHandle (process_handle.h) owns one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/process_handle.h"
#include "platform/process_launch.h"

namespace platform {

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

// Raises this process's limit of open descriptors to the hard limit. Every managed map keeps
// its shared record open, so the common soft limit of 1,024 would leave large map lists
// without records. It also sets one descriptor aside for reading /proc once every other
// one is taken. Returns the limit in force afterwards.
uint64_t RaiseOpenFileLimit();
// The limit of open descriptors in force (the soft limit).
uint64_t OpenFileLimit();

}  // namespace platform
