// A segment shrunk under a view by a peer of the same user: the guard gives the segment its
// size back instead of letting SIGBUS end the process, so the lost bytes read as zeros and
// later writes reach every holder again; with and without crash reporting. A view that
// cannot be mended is cut off and says so.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/crash_report.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "support/TestSupport.h"

namespace platform {
namespace {

// Maps a fresh segment, writes a marker, truncates the object to nothing behind the view's
// back (as a hostile peer would), reads the marker again and writes once more. 0 when the
// read gave zeros, the write reached the segment (a second holder sees it), the fault was
// counted and the view is not lost; otherwise the first step that went wrong.
int ShrinkUnderTheView(const std::string& name) {
  bool existed = false;
  int error = 0;
  int handle = CreateSharedSegment(name, 8192, &existed, &error);
  if (handle < 0) return 1;
  auto* view = static_cast<volatile uint8_t*>(MapSharedSegment(handle, 8192, &error));
  if (view == nullptr) return 2;
  view[5000] = 42;
  int peer = shm_open(SharedMemoryObjectName(name).c_str(), O_RDWR, 0);
  if (peer < 0 || ftruncate(peer, 0) != 0) return 3;
  close(peer);
  if (view[5000] != 0) return 4;  // the page is gone: this faults and must be mended
  view[6000] = 7;
  int other = CreateSharedSegment(name, 8192, &existed, &error);
  auto* seen = static_cast<volatile uint8_t*>(MapSharedSegment(other, 8192, &error));
  if (seen == nullptr || seen[6000] != 7) return 5;  // the write was lost
  if (SharedMemoryFaultCount() == 0) return 6;
  if (IsSharedViewLost(const_cast<uint8_t*>(view))) return 7;
  UnmapSharedSegment(const_cast<uint8_t*>(seen), 8192);
  CloseSharedSegment(other);
  UnmapSharedSegment(const_cast<uint8_t*>(view), 8192);
  CloseSharedSegment(handle);
  return 0;
}

TEST(SharedMemoryFaultTest, ShrunkSegmentGetsItsSizeBackAndLaterWritesReachEveryHolder) {
  EXPECT_EXIT(std::_Exit(ShrinkUnderTheView(UniqueName("FaultPlain_"))), ::testing::ExitedWithCode(0),
              "its size is given back and the lost bytes read as zeros");
}

TEST(SharedMemoryFaultTest, CrashReportingLetsTheGuardRecoverFirst) {
  TempDir dir("vemo-fault");  // removed by this process, whatever the child does
  EXPECT_EXIT(
      {
        InstallCrashReporting(dir.Path());
        int result = ShrinkUnderTheView(UniqueName("FaultReported_"));
        std::_Exit(result == 0 && IsCrashReportingActive() ? 0 : 10 + result);
      },
      ::testing::ExitedWithCode(0), "its size is given back");
}

// A segment shrunk while this process may grow no file: its size cannot be given back. 0
// when the view was cut off, read zeros, took a write without faulting and reported it.
int ShrinkBeyondMending(const std::string& name) {
  int handle = CreateSharedSegment(name, 8192, nullptr, nullptr);
  auto* view = static_cast<volatile uint8_t*>(MapSharedSegment(handle, 8192, nullptr));
  if (view == nullptr) return 1;
  int peer = shm_open(SharedMemoryObjectName(name).c_str(), O_RDWR, 0);
  if (peer < 0 || ftruncate(peer, 0) != 0) return 2;
  close(peer);
  // No file of this process may grow past 4 KiB from now on (standard error, a file in a
  // death test, stays below that): the segment cannot get its 8 KiB back.
  signal(SIGXFSZ, SIG_IGN);
  rlimit small{4096, 4096};
  if (setrlimit(RLIMIT_FSIZE, &small) != 0) return 3;
  if (view[100] != 0) return 4;
  view[100] = 9;  // reaches nobody, but does not fault either
  if (!IsSharedViewLost(const_cast<uint8_t*>(view))) return 5;
  UnmapSharedSegment(const_cast<uint8_t*>(view), 8192);  // says so on the debug output
  CloseSharedSegment(handle);
  return 0;
}

TEST(SharedMemoryFaultTest, AViewThatCannotBeMendedIsCutOffAndSaysSo) {
  EXPECT_EXIT(std::_Exit(ShrinkBeyondMending(UniqueName("FaultLost_"))), ::testing::ExitedWithCode(0),
              "cannot be mended(.|\n)*FaultLost.* was cut off");
}

TEST(SharedMemoryFaultTest, FaultOutsideAnyViewIsNotOurs) {
  int onStack = 0;
  EXPECT_FALSE(RecoverSharedMemoryFault(&onStack));
  EXPECT_FALSE(RecoverSharedMemoryFault(nullptr));
}

}  // namespace
}  // namespace platform
