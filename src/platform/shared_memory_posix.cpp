// Named shared memory with the lifetime rules of a Windows file mapping, on POSIX shared
// memory objects.
//
// Every holder keeps a shared open-file-description lock on the object for as long as it
// holds it; the kernel drops the lock when the holder closes it or dies. A new holder first
// tries an exclusive lock: if that is granted nobody else holds the segment, so the bytes
// left by earlier holders (perhaps a crashed one) are stale and the segment is zero-filled
// anew; the lock is then converted to a shared one, atomically. If it is refused, somebody
// holds the segment and the new holder only takes a shared lock (waiting, at most, for a
// creator that is still zero-filling).
//
// The last holder removes the object's name. That is race-free because it happens under the
// exclusive lock, and because everybody who takes a lock checks afterwards that the name
// still leads to the object it locked: a process that opened the object just before the
// name went away notices it and starts again with a fresh object, instead of holding a
// nameless one that later openers would never meet.
//
// A mapped view holds the segment too (it takes its own lock on a second open file
// description), so that unmapping after closing the handle is safe and the bytes under a
// view are never cut away by a later creator.
#include "platform/shared_memory.h"
#include "platform/mapped_view_guard.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

namespace platform {
namespace {

struct HeldObject {
  std::string objectName;
};
struct HeldView {
  int lockFd;
  std::size_t size;
  std::string objectName;
};

// The views as address ranges the SIGBUS guard can search without locks or allocation.
constexpr std::size_t kMaxGuardedViews = 16384;
struct GuardedRange {
  std::atomic<uintptr_t> start{0};
  std::atomic<std::size_t> size{0};
};
GuardedRange g_guarded[kMaxGuardedViews];

void GuardView(void* view, std::size_t size) {
  for (auto& range : g_guarded) {
    uintptr_t expected = 0;
    if (range.start.load(std::memory_order_relaxed) == 0 &&
        range.start.compare_exchange_strong(expected, reinterpret_cast<uintptr_t>(view))) {
      range.size.store(size, std::memory_order_release);
      return;
    }
  }
  // More views than slots: the rest go unguarded, as a plain mapping would be.
}

void UnguardView(void* view) {
  for (auto& range : g_guarded) {
    if (range.start.load(std::memory_order_acquire) == reinterpret_cast<uintptr_t>(view)) {
      range.size.store(0, std::memory_order_release);
      range.start.store(0, std::memory_order_release);
      return;
    }
  }
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

std::mutex g_mutex;
std::map<int, HeldObject> g_handles;  // handle (descriptor) -> object name
std::map<void*, HeldView> g_views;    // view address -> its own lock

int Lock(int fd, short type, bool wait) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;  // the whole object, whatever its size
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return 0;
    if (errno == EINTR) continue;
    return errno;
  }
}

// True when the name still leads to the object behind `fd`.
bool NameLeadsTo(const std::string& objectName, int fd) {
  struct stat held {};
  if (fstat(fd, &held) != 0) return false;
  int probe = shm_open(objectName.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (probe < 0) return false;
  struct stat named {};
  bool same = fstat(probe, &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino;
  close(probe);
  return same;
}

// Stops holding through `fd`: the last holder removes the name, then the lock goes with
// the descriptor.
void ReleaseHold(int fd, const std::string& objectName) {
  if (Lock(fd, F_WRLCK, false) == 0 && NameLeadsTo(objectName, fd)) shm_unlink(objectName.c_str());
  close(fd);
}

bool UsableSegmentName(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return false;
  // The object name without its leading "/" must fit in one file name.
  return name.size() <= NAME_MAX;
}

}  // namespace

std::string SharedMemoryObjectName(const std::string& segmentName) {
  std::string out = "/";
  out.reserve(segmentName.size() + 1);
  for (char c : segmentName) out += (c == '\\' || c == '/') ? '_' : c;
  return out;
}

int CreateSharedSegment(const std::string& name, std::size_t size, bool* existed, int* errorCode) {
  bool dummyExisted = false;
  int dummyCode = 0;
  if (existed == nullptr) existed = &dummyExisted;
  if (errorCode == nullptr) errorCode = &dummyCode;
  *existed = false;
  if (!UsableSegmentName(name)) {
    *errorCode = name.size() > NAME_MAX ? ENAMETOOLONG : EINVAL;
    return -1;
  }
  if (size == 0 || size > static_cast<std::size_t>(LLONG_MAX)) {
    *errorCode = EINVAL;
    return -1;
  }
  const std::string objectName = SharedMemoryObjectName(name);

  // Normally one pass; another only when the name went away between our open and our lock.
  for (int attempt = 0; attempt < 100; ++attempt) {
    int fd = shm_open(objectName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
      *errorCode = errno;
      return -1;
    }
    int rc = Lock(fd, F_WRLCK, false);
    bool first = rc == 0;
    if (!first) {
      if (rc != EAGAIN && rc != EACCES) {
        *errorCode = rc;
        close(fd);
        return -1;
      }
      rc = Lock(fd, F_RDLCK, true);
      if (rc != 0) {
        *errorCode = rc;
        close(fd);
        return -1;
      }
    }
    if (!NameLeadsTo(objectName, fd)) {
      close(fd);
      continue;
    }
    if (first) {
      // Nobody else holds it: whatever it holds is left from earlier holders.
      if (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
        *errorCode = errno;
        ReleaseHold(fd, objectName);
        return -1;
      }
      rc = Lock(fd, F_RDLCK, false);  // converts the exclusive lock, never refused
      if (rc != 0) {
        *errorCode = rc;
        ReleaseHold(fd, objectName);
        return -1;
      }
    }
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      g_handles[fd] = HeldObject{objectName};
    }
    *existed = !first;
    *errorCode = first ? 0 : kErrorAlreadyExists;
    return fd;
  }
  *errorCode = EAGAIN;
  return -1;
}

void* MapSharedSegment(int handle, std::size_t size, int* errorCode) {
  int dummyCode = 0;
  if (errorCode == nullptr) errorCode = &dummyCode;
  std::string objectName;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_handles.find(handle);
    if (it == g_handles.end()) {
      *errorCode = EBADF;
      return nullptr;
    }
    objectName = it->second.objectName;
  }
  if (size == 0) {
    *errorCode = EINVAL;
    return nullptr;
  }
  struct stat st {};
  if (fstat(handle, &st) != 0) {
    *errorCode = errno;
    return nullptr;
  }
  if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) < size) {
    // A segment created smaller by another holder cannot be viewed larger.
    *errorCode = EINVAL;
    return nullptr;
  }
  // The view's own hold: a second open file description of the same object.
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", handle);
  int lockFd = open(path, O_RDWR | O_CLOEXEC);
  if (lockFd < 0) {
    *errorCode = errno;
    return nullptr;
  }
  int rc = Lock(lockFd, F_RDLCK, true);
  if (rc != 0) {
    *errorCode = rc;
    close(lockFd);
    return nullptr;
  }
  void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, handle, 0);
  if (view == MAP_FAILED) {
    *errorCode = errno;
    close(lockFd);
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_views[view] = HeldView{lockFd, size, objectName};
  }
  GuardView(view, size);
  InstallFaultGuard();
  *errorCode = 0;
  return view;
}

void UnmapSharedSegment(void* view, std::size_t size) {
  if (view == nullptr) return;
  HeldView held{-1, size, std::string()};
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_views.find(view);
    if (it == g_views.end()) return;  // not one of ours: leave it alone
    held = it->second;
    g_views.erase(it);
  }
  UnguardView(view);
  munmap(view, held.size);
  ReleaseHold(held.lockFd, held.objectName);
}

void CloseSharedSegment(int handle) {
  std::string objectName;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_handles.find(handle);
    if (it == g_handles.end()) return;  // unknown or already closed: never close a stranger's descriptor
    objectName = it->second.objectName;
    g_handles.erase(it);
  }
  ReleaseHold(handle, objectName);
}

void GuardMappedView(void* view, std::size_t size) {
  GuardView(view, size);
  InstallFaultGuard();
}

void UnguardMappedView(void* view) { UnguardView(view); }

bool RecoverSharedMemoryFault(void* address) {
  uintptr_t at = reinterpret_cast<uintptr_t>(address);
  for (auto& range : g_guarded) {
    uintptr_t start = range.start.load(std::memory_order_acquire);
    std::size_t size = range.size.load(std::memory_order_acquire);
    if (start == 0 || at < start || at - start >= size) continue;
    uintptr_t pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    void* page = reinterpret_cast<void*>(at & ~(pageSize - 1));
    if (mmap(page, pageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED)
      return false;
    static const char line[] = "shared memory: a segment was shrunk under its view; the lost page reads as zeros\n";
    ssize_t ignored = write(STDERR_FILENO, line, sizeof line - 1);
    (void)ignored;
    return true;
  }
  return false;
}

std::string SystemErrorText(int errorCode) {
  if (errorCode == kErrorAlreadyExists) return "Cannot create a file when that file already exists.";
  char buffer[256];
  return std::string(strerror_r(errorCode, buffer, sizeof buffer));
}

}  // namespace platform
