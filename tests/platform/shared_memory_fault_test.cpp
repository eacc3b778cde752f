// A segment shrunk under a view by a peer of the same user: reads of the lost pages give
// zeros instead of ending the process with SIGBUS, with and without crash reporting.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/crash_report.h"
#include "platform/process.h"
#include "platform/shared_memory.h"

namespace platform {
namespace {

std::string UniqueSegment(const char* stem) {
  return std::string(stem) + "_" + std::to_string(CurrentProcessId());
}

// Maps a fresh segment, writes a marker, truncates the object to nothing behind the view's
// back (as a hostile peer would), then reads the marker again.
int ReadAfterShrink(const std::string& name) {
  bool existed = false;
  int error = 0;
  int handle = CreateSharedSegment(name, 8192, &existed, &error);
  if (handle < 0) return -1;
  auto* view = static_cast<volatile uint8_t*>(MapSharedSegment(handle, 8192, &error));
  if (view == nullptr) return -2;
  view[5000] = 42;
  int peer = shm_open(SharedMemoryObjectName(name).c_str(), O_RDWR, 0);
  if (peer < 0 || ftruncate(peer, 0) != 0) return -3;
  close(peer);
  int value = view[5000];  // the page is gone: this faults and must be recovered
  view[6000] = 7;          // writes to a lost page go nowhere, but do not fault either
  UnmapSharedSegment(const_cast<uint8_t*>(view), 8192);
  CloseSharedSegment(handle);
  return value;
}

TEST(SharedMemoryFaultTest, ShrunkSegmentReadsAsZerosInsteadOfCrashing) {
  EXPECT_EXIT(
      {
        int value = ReadAfterShrink(UniqueSegment("FaultPlain"));
        std::_Exit(value == 0 ? 0 : 10 + value);
      },
      ::testing::ExitedWithCode(0), "lost page reads as zeros");
}

TEST(SharedMemoryFaultTest, CrashReportingLetsTheGuardRecoverFirst) {
  EXPECT_EXIT(
      {
        char dir[] = "/tmp/vemo-fault-XXXXXX";
        if (mkdtemp(dir) == nullptr) std::_Exit(20);
        InstallCrashReporting(std::string(dir) + "/");
        int value = ReadAfterShrink(UniqueSegment("FaultReported"));
        std::_Exit(value == 0 && IsCrashReportingActive() ? 0 : 10 + value);
      },
      ::testing::ExitedWithCode(0), "lost page reads as zeros");
}

TEST(SharedMemoryFaultTest, FaultOutsideAnyViewIsNotOurs) {
  int onStack = 0;
  EXPECT_FALSE(RecoverSharedMemoryFault(&onStack));
  EXPECT_FALSE(RecoverSharedMemoryFault(nullptr));
}

}  // namespace
}  // namespace platform
