// Figures of processes: CPU times, memory counters, start time, and this process's ids.
#pragma once

#include <cstdint>

namespace platform {

// Kernel and user times in 100-ns units.
struct CpuTimes {
  uint64_t Kernel = 0;
  uint64_t User = 0;
};
bool GetProcessTimes(uint32_t pid, CpuTimes* times);
bool GetProcessTimesByHandle(int handle, CpuTimes* times);
bool GetThreadTimes(uint32_t pid, uint32_t tid, CpuTimes* times);

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

uint32_t CurrentProcessId();
uint32_t CurrentThreadId();
int ProcessorCount();

}  // namespace platform
