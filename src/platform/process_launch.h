// Starting processes: a command line split as Windows splits it, the program found as
// Windows finds it, started in a session of its own (so that a map server outlives the
// manager and its terminal) as our child, with its handle registered at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// What a start returns. The handle is the raw form, owned by whoever receives it: wrap it
// in a ProcessHandle (process_handle.h) at once, or close it (CloseProcessHandles).
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

}  // namespace platform
