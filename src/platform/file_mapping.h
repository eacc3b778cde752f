// Read-only mappings of files: a file is opened for reading (others may keep reading and
// writing it) and mapped as a whole, so that it is read without being copied first.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class ReadOnlyFileMapping {
 public:
  enum class OpenResult {
    Opened,
    NotFound,        // nothing at the path
    NotRegularFile,  // a directory, FIFO, device, socket, or a symbolic link
    HardLinked,      // a regular file with more than one name: it may be a file of elsewhere
    Failed,          // any other error; the error code says which
  };

  ReadOnlyFileMapping() = default;
  ~ReadOnlyFileMapping() { Close(); }
  ReadOnlyFileMapping(const ReadOnlyFileMapping&) = delete;
  ReadOnlyFileMapping& operator=(const ReadOnlyFileMapping&) = delete;

  // Opens an existing regular file for reading. Never blocks (a FIFO is refused, not
  // waited on) and never follows a symbolic link in the last part of the path, so the
  // file read is the one named, not another one it points to. `*errorCode` is an errno
  // value for NotFound and Failed, 0 otherwise.
  OpenResult Open(const std::string& path, int* errorCode);
  // The file's size in bytes when it was opened.
  uint64_t Size() const { return m_Size; }
  // Maps the whole file read-only; null with `*errorCode` on failure (an empty file
  // cannot be mapped). A page that a writer truncates away meanwhile reads as zeros, and
  // so does the rest of the view after it; Faulted then tells.
  const void* MapView(int* errorCode);
  // True once a page of the view was lost because the file was truncated under it: what
  // was read from the view since is not the file's content.
  bool Faulted() const;
  // Releases the view and the file.
  void Close();

 private:
  int m_Fd = -1;
  uint64_t m_Size = 0;
  void* m_View = nullptr;
};

}  // namespace platform
