// Process figures read from /proc by process id, their parsers, and the small process
// facts that need no handle: ids, processor count, the open-file limit, sleeping.
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <string>

#include "platform/proc_text.h"
#include "platform/process.h"
#include "platform/process_handles.h"
#include "platform/process_parsers.h"
#include "text/Text.h"

namespace platform {
namespace {

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

uint64_t TicksTo100ns(uint64_t ticks) {
  static const long ticksPerSecond = sysconf(_SC_CLK_TCK) > 0 ? sysconf(_SC_CLK_TCK) : 100;
  return ticks * (10000000ULL / static_cast<uint64_t>(ticksPerSecond));
}

}  // namespace

namespace proc_text {

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

}  // namespace proc_text

using proc_text::ParseStatPageFaults;
using proc_text::StatFields;

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
    if (key == "VmRSS")
      target = &rss;
    else if (key == "VmHWM")
      target = &hwm;
    else if (key == "RssAnon")
      target = &anon;
    else if (key == "VmSwap")
      target = &swap;
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

int ProcessorCount() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

uint64_t RaiseOpenFileLimit() {
  handles::KeepReserve();
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return static_cast<uint64_t>(limit.rlim_cur);
}

uint64_t OpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  return static_cast<uint64_t>(limit.rlim_cur);
}

void SleepMs(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
