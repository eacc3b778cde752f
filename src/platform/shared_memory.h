// Named shared memory with the lifetime of a Windows file mapping.
//
// A segment lives while any process holds it; a process that dies stops holding it;
// the first holder finds it zero-filled, a later holder is told that it existed.
// POSIX shared memory objects carry the bytes; an open-file-description lock on the
// object marks each holder (shared lock for life, exclusive lock tried to find out
// whether anyone else holds it), which the kernel drops when a holder dies.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// The POSIX object name of a segment name: "/" + name with every "\" and "/" replaced
// by "_". "Map_1_Config" -> "/Map_1_Config", "Global\_Sign" -> "/Global__Sign".
std::string SharedMemoryObjectName(const std::string& segmentName);

// Windows error codes that callers of the shared memory functions report.
constexpr int kErrorAlreadyExists = 183;

// Creates the segment of at least `size` bytes, or opens it when some process holds it.
// Returns a handle (>= 0) or -1. `*existed` is true when another holder had it already.
// `*errorCode` is 0 on a fresh creation, kErrorAlreadyExists on an open, or an errno value
// on failure. A name that cannot be used gives -1 and an error code, never a crash.
int CreateSharedSegment(const std::string& name, std::size_t size, bool* existed, int* errorCode);

// Maps `size` bytes of the segment read-write. Null (with `*errorCode` set) when the
// segment is smaller than `size` or the mapping fails.
void* MapSharedSegment(int handle, std::size_t size, int* errorCode);
void UnmapSharedSegment(void* view, std::size_t size);
// Stops holding the segment; the last holder's close ends it.
void CloseSharedSegment(int handle);

// A peer of the same user can shrink a segment under a view; touching the lost pages would
// raise SIGBUS. Every view is guarded: a fault inside a view replaces the lost page with a
// zero page, so the record reads as zeros and the program goes on. The guard's handler is
// installed with the first view unless another SIGBUS handler is in place (crash reporting
// calls RecoverSharedMemoryFault itself). Async-signal-safe; true when the fault was handled.
bool RecoverSharedMemoryFault(void* address);

// The system's text for an error code (strerror).
std::string SystemErrorText(int errorCode);

}  // namespace platform
