// Named shared memory with the lifetime rules of a Windows file mapping, on POSIX shared
// memory objects.
//
// Every holder keeps a shared open-file-description lock on the object's first byte for as
// long as it holds it; the kernel drops the lock when the holder closes it or dies. A new
// holder first tries an exclusive lock: if that is granted nobody else holds the segment, so
// the bytes left by earlier holders (perhaps a crashed one) are stale and the segment is
// zero-filled anew; the lock is then converted to a shared one, atomically. If it is refused, somebody
// holds the segment and the new holder only takes a shared lock (waiting, at most, for a
// creator that is still zero-filling).
//
// The last holder removes the object's name. A holder that lets go first drops its lock and
// then tries the exclusive lock: of several holders letting go at the same moment, the one
// that drops last finds nobody else (or only another one trying, who then found nobody), so
// somebody always removes the name. That is race-free because it happens under the
// exclusive lock, and because everybody who takes a lock checks afterwards that the name
// still leads to the object it locked: a process that opened the object just before the
// name went away notices it and starts again with a fresh object, instead of holding a
// nameless one that later openers would never meet.
//
// A holder that dies cannot remove the name. Objects made here carry the mode 01600 (the
// sticky bit marks them as this layer's), so RemoveUnheldSharedSegments can find the names
// that nobody holds any more and remove them, leaving every other program's objects alone.
//
// The second byte carries the segment lock (LockSharedSegment): an exclusive lock that
// every holder of the segment sees, in any process.
//
// A mapped view holds the segment too (it takes its own lock on a second open file
// description), so that unmapping after closing the handle is safe and the bytes under a
// view are never cut away by a later creator. The views are guarded against pages that
// vanish under them (mapped_view_guard_posix.cpp).
#include "platform/mapped_view_guard.h"
#include "platform/shared_memory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/debug_output.h"

namespace platform {
namespace {

constexpr off_t kHoldByte = 0;         // shared by every holder; exclusive while one creates or lets go
constexpr off_t kLockByte = 1;         // the segment lock
constexpr mode_t kObjectMode = 01600;  // owner read-write; the sticky bit marks our objects
constexpr const char kObjectDirectory[] = "/dev/shm/";

struct HeldObject {
  std::string objectName;
};
struct HeldView {
  int lockFd;
  std::size_t size;
  std::string objectName;
};

std::mutex g_mutex;
std::map<int, HeldObject> g_handles;  // handle (descriptor) -> object name
std::map<void*, HeldView> g_views;    // view address -> its own lock

// Locks (or unlocks) one byte of the object; 0 or the error number.
int Lock(int fd, short type, bool wait, off_t byte = kHoldByte) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;  // a lock byte, not the data: it may lie beyond the object's end
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

// Stops holding through `fd`: drops the hold first, then looks whether anybody else still
// holds the object; the last holder removes the name. The locks go with the descriptor.
void ReleaseHold(int fd, const std::string& objectName) {
  Lock(fd, F_UNLCK, false);
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
      // Nobody else holds it: whatever it holds is left from earlier holders. The mode marks
      // it as ours for RemoveUnheldSharedSegments.
      if (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0 || fchmod(fd, kObjectMode) != 0) {
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
  GuardSegmentView(view, size, lockFd);
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
  uint32_t restores = 0;
  bool lost = false;
  UnguardSegmentView(view, &restores, &lost);
  munmap(view, held.size);
  if (lost)
    OutputDebugString("shared memory: the view of " + held.objectName.substr(1) +
                      " was cut off after its segment was shrunk again and again; its later writes were lost");
  else if (restores > 0)
    OutputDebugString("shared memory: the segment " + held.objectName.substr(1) + " was shrunk under its view " +
                      std::to_string(restores) + " time(s); its size was given back each time");
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

void ReleaseSharedSegmentsAtExit() {
  std::map<int, HeldObject> handles;
  std::map<void*, HeldView> views;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    handles.swap(g_handles);
    views.swap(g_views);
  }
  // The views stay mapped (the process is ending and another thread may still read them);
  // only the holds go, each of them looking whether it was the last.
  for (auto& [view, held] : views) {
    uint32_t restores = 0;
    bool lost = false;
    UnguardSegmentView(view, &restores, &lost);
    ReleaseHold(held.lockFd, held.objectName);
  }
  for (auto& [handle, held] : handles) ReleaseHold(handle, held.objectName);
}

int RemoveUnheldSharedSegments() {
  DIR* directory = opendir(kObjectDirectory);
  if (directory == nullptr) return 0;
  const uid_t self = geteuid();
  int removed = 0;
  while (dirent* entry = readdir(directory)) {
    if (entry->d_name[0] == '.') continue;
    struct stat st {};
    if (fstatat(dirfd(directory), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode) || st.st_uid != self || (st.st_mode & 07777) != kObjectMode) continue;
    const std::string objectName = std::string("/") + entry->d_name;
    int fd = shm_open(objectName.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) continue;
    struct stat opened {};
    // The exclusive lock is granted only when nobody holds the object; a creator that
    // opens it meanwhile waits for the lock and then finds the name gone.
    if (fstat(fd, &opened) == 0 && opened.st_uid == self && (opened.st_mode & 07777) == kObjectMode &&
        Lock(fd, F_WRLCK, false) == 0 && NameLeadsTo(objectName, fd) && shm_unlink(objectName.c_str()) == 0)
      ++removed;
    close(fd);
  }
  closedir(directory);
  return removed;
}

bool LockSharedSegment(int handle, uint32_t timeoutMs, bool* earlierHolder) {
  if (earlierHolder != nullptr) *earlierHolder = false;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_handles.find(handle) == g_handles.end()) return false;
  }
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    int rc = Lock(handle, F_WRLCK, false, kLockByte);
    if (rc == 0) return true;
    if (rc != EAGAIN && rc != EACCES) return false;
    // Who keeps it out: another holder's segment lock (exclusive), or the hold of an earlier
    // build, which is shared and covers every byte, and goes only with that holder.
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = kLockByte;
    probe.l_len = 1;
    if (fcntl(handle, F_OFD_GETLK, &probe) == 0 && probe.l_type == F_RDLCK) {
      if (earlierHolder != nullptr) *earlierHolder = true;
      return false;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    int64_t waited = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (timeoutMs != kWaitForever && waited >= static_cast<int64_t>(timeoutMs)) return false;
    timespec pause{0, 1000000};  // 1 ms
    nanosleep(&pause, nullptr);
  }
}

void UnlockSharedSegment(int handle) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_handles.find(handle) == g_handles.end()) return;
  }
  Lock(handle, F_UNLCK, false, kLockByte);
}

std::string SystemErrorText(int errorCode) {
  if (errorCode == kErrorAlreadyExists) return "Cannot create a file when that file already exists.";
  char buffer[256];
  return std::string(strerror_r(errorCode, buffer, sizeof buffer));
}

}  // namespace platform
