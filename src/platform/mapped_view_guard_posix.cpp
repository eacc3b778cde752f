// The guard of mapped views: a SIGBUS raised by a page that vanished under a view (a peer
// shrank the segment, or a file was truncated) is caught and mended, or the view is cut off,
// instead of ending the process.
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/mapped_view_guard.h"
#include "platform/shared_memory.h"

namespace platform {
namespace {

// The views as address ranges the SIGBUS guard can search without locks or allocation,
// each with what the guard needs to mend it: the view's own descriptor (read-write) to give
// the object its size back, and counters that normal code reads afterwards.
constexpr std::size_t kMaxGuardedViews = 16384;
struct GuardedRange {
  std::atomic<uintptr_t> start{0};
  std::atomic<std::size_t> size{0};
  std::atomic<int> fd{-1};
  std::atomic<uint32_t> restores{0};  // faults mended by giving the object its size back
  std::atomic<bool> lost{false};      // cut off from the segment: its writes reach nobody
};
GuardedRange g_guarded[kMaxGuardedViews];
std::atomic<uint64_t> g_faults{0};
// Prepared before the guard can run, so that the handler asks the system for nothing else.
long g_pageSize = sysconf(_SC_PAGESIZE);
// A peer that shrinks a segment again and again gets this many restores per view, then the
// view is cut off (its lost page replaced by a private zero page).
constexpr uint32_t kMaxRestores = 1000;

GuardedRange* FindRange(const void* view) {
  for (auto& range : g_guarded)
    if (range.start.load(std::memory_order_acquire) == reinterpret_cast<uintptr_t>(view)) return &range;
  return nullptr;
}

void SharedMemoryFaultHandler(int sig, siginfo_t* info, void*) {
  if (RecoverSharedMemoryFault(info->si_addr)) return;
  signal(sig, SIG_DFL);
  raise(sig);
}

void InstallFaultGuard() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    if (sigaction(SIGBUS, nullptr, &current) != 0) return;
    bool isDefault = (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_DFL;
    if (!isDefault) return;  // someone else handles SIGBUS (crash reporting asks us first)
    struct sigaction action {};
    action.sa_sigaction = SharedMemoryFaultHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, nullptr);
  });
}

void GuardView(void* view, std::size_t size, int fd) {
  for (auto& range : g_guarded) {
    uintptr_t expected = 0;
    if (range.start.load(std::memory_order_relaxed) == 0 &&
        range.start.compare_exchange_strong(expected, reinterpret_cast<uintptr_t>(view))) {
      range.restores.store(0, std::memory_order_relaxed);
      range.lost.store(false, std::memory_order_relaxed);
      range.fd.store(fd, std::memory_order_relaxed);
      range.size.store(size, std::memory_order_release);
      return;
    }
  }
  // More views than slots: the rest go unguarded, as a plain mapping would be.
}

// Stops guarding the view; tells what the guard had to do for it.
void UnguardView(void* view, uint32_t* restores, bool* lost) {
  *restores = 0;
  *lost = false;
  if (GuardedRange* range = FindRange(view)) {
    range->size.store(0, std::memory_order_release);
    *restores = range->restores.load();
    *lost = range->lost.load();
    range->fd.store(-1, std::memory_order_release);
    range->start.store(0, std::memory_order_release);
  }
}

}  // namespace

void GuardSegmentView(void* view, std::size_t size, int fd) {
  GuardView(view, size, fd);
  InstallFaultGuard();
}

void UnguardSegmentView(void* view, uint32_t* restores, bool* lost) { UnguardView(view, restores, lost); }

// A view of a file (read-only): the guard never changes the file's size; a page lost to a
// truncation becomes a page of zeros.
void GuardMappedView(void* view, std::size_t size) {
  GuardView(view, size, -1);
  InstallFaultGuard();
}

bool UnguardMappedView(void* view) {
  uint32_t restores = 0;
  bool lost = false;
  UnguardView(view, &restores, &lost);
  return lost;
}

bool MappedViewFaulted(const void* view) {
  GuardedRange* range = FindRange(view);
  return range != nullptr && range->lost.load();
}

uint64_t SharedMemoryFaultCount() { return g_faults.load(); }

bool IsSharedViewLost(const void* view) {
  GuardedRange* range = FindRange(view);
  return range != nullptr && range->lost.load();
}

// Runs in a signal handler: only async-signal-safe calls (fstat, ftruncate, write) and, for
// a view that cannot be mended, mmap, which on Linux is the bare system call.
bool RecoverSharedMemoryFault(void* address) {
  uintptr_t at = reinterpret_cast<uintptr_t>(address);
  for (auto& range : g_guarded) {
    uintptr_t start = range.start.load(std::memory_order_acquire);
    std::size_t size = range.size.load(std::memory_order_acquire);
    if (start == 0 || at < start || at - start >= size) continue;
    g_faults.fetch_add(1, std::memory_order_relaxed);
    uintptr_t pageSize = static_cast<uintptr_t>(g_pageSize > 0 ? g_pageSize : 4096);
    int fd = range.fd.load(std::memory_order_acquire);
    if (fd < 0) {
      // A view of a file that was truncated: everything from the lost page to the view's end
      // becomes zeros in one step. Its owner reports it; nothing is written here.
      uintptr_t page = at & ~(pageSize - 1);
      std::size_t rest = static_cast<std::size_t>(start + size - page);
      if (mmap(reinterpret_cast<void*>(page), rest, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) ==
          MAP_FAILED)
        return false;
      range.lost.store(true);
      return true;
    }
    // A peer shrank the object: give it its size back, so the lost bytes read as zeros for
    // every holder and this process's writes reach the segment again.
    struct stat st {};
    const uint32_t restored = range.lost.load() ? kMaxRestores : range.restores.fetch_add(1);
    if (restored < kMaxRestores && fstat(fd, &st) == 0 &&
        (static_cast<uint64_t>(st.st_size) >= size || ftruncate(fd, static_cast<off_t>(size)) == 0)) {
      if (restored > 0) return true;  // one line per view
      static const char line[] =
          "shared memory: a segment was shrunk under its view; its size is given back and the lost bytes read as "
          "zeros\n";
      ssize_t ignored = write(STDERR_FILENO, line, sizeof line - 1);
      (void)ignored;
      return true;
    }
    // It cannot be mended: the page becomes a private zero page, and the view is marked lost.
    void* page = reinterpret_cast<void*>(at & ~(pageSize - 1));
    if (mmap(page, pageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED)
      return false;
    if (range.lost.exchange(true)) return true;  // one line per view
    static const char line[] =
        "shared memory: a segment was shrunk under its view and cannot be mended; the view is cut off from it\n";
    ssize_t ignored = write(STDERR_FILENO, line, sizeof line - 1);
    (void)ignored;
    return true;
  }
  return false;
}

}  // namespace platform
