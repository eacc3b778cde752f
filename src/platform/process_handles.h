// The handle table of the process layer, for its other sources: a started child's pidfd is
// registered here, where liveness, reaping, kills and figures find it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace platform::handles {

// Registers a pidfd for `pid` and returns its handle (pidfd + 1). `child`: started by us,
// ours to reap; `watch`: its end is watched (ReapEndedChildren).
int Register(int pidfd, uint32_t pid, bool child, bool watch);
// pidfd_open; -1 with errno on failure.
int OpenPidfd(pid_t pid);
// Keeps one descriptor in reserve for reading /proc when every other one is taken (opened
// with the first child, or at start-up when the open-file limit is raised).
void KeepReserve();
// Reaps the children whose handles were closed while they ran and that have ended since.
void ReapClosedChildren();
// Reads a small /proc file whole; with every descriptor taken, the reserve is given up for
// the moment of the read.
bool ReadProc(const std::string& path, std::string* text);
// The state letter of /proc/<pid>/stat ('R', 'S', 'Z'...), read as ReadProc reads.
bool ProcessState(uint32_t pid, char* state);

}  // namespace platform::handles
