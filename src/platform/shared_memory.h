// Named shared memory with the lifetime of a Windows file mapping.
//
// A segment lives while any process holds it; a process that dies stops holding it;
// the first holder finds it zero-filled, a later holder is told that it existed.
// POSIX shared memory objects carry the bytes; an open-file-description lock on the
// object marks each holder (shared lock for life, exclusive lock tried to find out
// whether anyone else holds it), which the kernel drops when a holder dies.
#pragma once

#include <cstddef>
#include <cstdint>
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
// Stops holding the segment; the last holder's close ends it (and removes its name).
void CloseSharedSegment(int handle);

// For a process about to end itself at once (a fatal start-up failure): stops holding every
// segment and view it holds, so that the names of segments nobody else holds go with it.
// The views stay mapped; no handle may be used afterwards.
void ReleaseSharedSegmentsAtExit();
// A holder that was killed could not remove its segments' names. Removes the name of every
// segment made by this layer that no process holds any more (its bytes meant nothing: the
// next holder would have zero-filled them); returns how many went. Objects of other
// programs are never touched.
int RemoveUnheldSharedSegments();

// The segment lock: one holder at a time, whichever process it is in. Waits up to
// `timeoutMs` (kWaitForever: without limit); true when taken. The lock goes with
// UnlockSharedSegment, with the handle's close or with the holder's end. The threads of one
// process that use one handle share its lock, so they must keep apart by themselves.
// A holder made by an earlier build of this layer (its hold covers every byte) keeps the
// lock out for as long as it holds the segment: then the call returns false at once with
// `*earlierHolder` set, instead of waiting for a lock that cannot come.
constexpr uint32_t kWaitForever = 0xFFFFFFFFu;
bool LockSharedSegment(int handle, uint32_t timeoutMs, bool* earlierHolder = nullptr);
void UnlockSharedSegment(int handle);

// A peer of the same user can shrink a segment under a view; touching the lost pages would
// raise SIGBUS. Every view is guarded: a fault inside a view gives the segment its size
// back, so the lost bytes read as zeros for every holder and later writes reach the segment
// as before. A view that cannot be mended (or whose segment a peer shrinks again and again)
// gets a private zero page instead and is marked lost: its writes reach nobody from then
// on. The guard's handler is installed with the first view unless another SIGBUS handler is
// in place (crash reporting calls RecoverSharedMemoryFault itself). Everything the handler
// needs is prepared beforehand; it makes only async-signal-safe calls. True when the fault
// was handled.
bool RecoverSharedMemoryFault(void* address);
// Faults the guard has handled in this process, for normal code to notice and report.
uint64_t SharedMemoryFaultCount();
// True once the view has been cut off from its segment (see above).
bool IsSharedViewLost(const void* view);

// The system's text for an error code (strerror).
std::string SystemErrorText(int errorCode);

}  // namespace platform
