#include "platform/file_mapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "platform/mapped_view_guard.h"

namespace platform {

ReadOnlyFileMapping::OpenResult ReadOnlyFileMapping::Open(const std::string& path, int* errorCode) {
  Close();
  *errorCode = 0;
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer for ever.
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR) {
      *errorCode = error;
      return OpenResult::NotFound;
    }
    if (error == ELOOP) return OpenResult::NotRegularFile;  // a symbolic link
    *errorCode = error;
    return OpenResult::Failed;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    *errorCode = errno;
    close(fd);
    return OpenResult::Failed;
  }
  if (!S_ISREG(info.st_mode)) {
    close(fd);
    return OpenResult::NotRegularFile;
  }
  if (info.st_nlink > 1) {
    close(fd);
    return OpenResult::HardLinked;
  }
  m_Fd = fd;
  m_Size = static_cast<uint64_t>(info.st_size);
  return OpenResult::Opened;
}

const void* ReadOnlyFileMapping::MapView(int* errorCode) {
  *errorCode = 0;
  if (m_View != nullptr) return m_View;
  if (m_Fd < 0 || m_Size == 0 || m_Size > SIZE_MAX) {
    *errorCode = m_Fd < 0 ? EBADF : EINVAL;
    return nullptr;
  }
  void* view = mmap(nullptr, static_cast<std::size_t>(m_Size), PROT_READ, MAP_PRIVATE, m_Fd, 0);
  if (view == MAP_FAILED) {
    *errorCode = errno;
    return nullptr;
  }
  madvise(view, static_cast<std::size_t>(m_Size), MADV_SEQUENTIAL);
  GuardMappedView(view, static_cast<std::size_t>(m_Size));
  m_View = view;
  return view;
}

bool ReadOnlyFileMapping::Faulted() const { return m_View != nullptr && MappedViewFaulted(m_View); }

void ReadOnlyFileMapping::Close() {
  if (m_View != nullptr) {
    UnguardMappedView(m_View);
    munmap(m_View, static_cast<std::size_t>(m_Size));
    m_View = nullptr;
  }
  if (m_Fd >= 0) {
    close(m_Fd);
    m_Fd = -1;
  }
  m_Size = 0;
}

}  // namespace platform
