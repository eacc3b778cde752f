#include "platform/shared_memory.h"

#include <gtest/gtest.h>

#include <cstring>

#include "PeerHelpers.h"

using namespace platform;

namespace {

std::string UniqueName(const std::string& tag) {
  static int counter = 0;
  return "VemoTest_" + tag + "_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

struct Segment {
  int handle = -1;
  void* view = nullptr;
  std::size_t size = 0;
  bool existed = false;
  int error = 0;
  Segment(const std::string& name, std::size_t n) : size(n) {
    handle = CreateSharedSegment(name, n, &existed, &error);
    if (handle >= 0) view = MapSharedSegment(handle, n, &error);
  }
  ~Segment() {
    UnmapSharedSegment(view, size);
    CloseSharedSegment(handle);
  }
  unsigned char* bytes() { return static_cast<unsigned char*>(view); }
  bool AllEqual(unsigned char value) {
    for (std::size_t i = 0; i < size; ++i)
      if (bytes()[i] != value) return false;
    return true;
  }
};

}  // namespace

TEST(SharedMemoryTest, ObjectNameReplacesSeparators) {
  EXPECT_EQ(SharedMemoryObjectName("Map_1_Config"), "/Map_1_Config");
  EXPECT_EQ(SharedMemoryObjectName("Global\\_MapServerManager"), "/Global__MapServerManager");
  EXPECT_EQ(SharedMemoryObjectName("a/b\\c"), "/a_b_c");
}

TEST(SharedMemoryTest, UnusableNamesAndSizesFailWithAnErrorCode) {
  const std::string withNul("Map\0X", 5);
  for (const std::string& name : {std::string(), withNul, std::string(300, 'x')}) {
    bool existed = true;
    int error = 0;
    EXPECT_EQ(CreateSharedSegment(name, 64, &existed, &error), -1) << name.size();
    EXPECT_NE(error, 0);
    EXPECT_FALSE(existed);
  }
  int error = 0;
  EXPECT_EQ(CreateSharedSegment(UniqueName("zero"), 0, nullptr, &error), -1);
  EXPECT_NE(error, 0);
  EXPECT_EQ(MapSharedSegment(12345, 64, &error), nullptr);
  CloseSharedSegment(12345);  // not ours: ignored
  CloseSharedSegment(-1);
  UnmapSharedSegment(nullptr, 64);
}

TEST(SharedMemoryTest, SameNameTwiceInOneProcessSharesTheBytes) {
  const std::string name = UniqueName("twice");
  Segment first(name, 2200);
  ASSERT_NE(first.view, nullptr);
  EXPECT_FALSE(first.existed);
  EXPECT_EQ(first.error, 0);
  EXPECT_TRUE(first.AllEqual(0));
  Segment second(name, 2200);
  ASSERT_NE(second.view, nullptr);
  EXPECT_TRUE(second.existed);
  EXPECT_EQ(second.error, 0);  // the map succeeded; the create said kErrorAlreadyExists
  first.bytes()[17] = 0x5A;
  EXPECT_EQ(second.bytes()[17], 0x5A);
}

TEST(SharedMemoryTest, OpenReportsAlreadyExists) {
  const std::string name = UniqueName("code");
  bool existed = false;
  int error = -1;
  int a = CreateSharedSegment(name, 100, &existed, &error);
  ASSERT_GE(a, 0);
  EXPECT_EQ(error, 0);
  int b = CreateSharedSegment(name, 100, &existed, &error);
  ASSERT_GE(b, 0);
  EXPECT_TRUE(existed);
  EXPECT_EQ(error, kErrorAlreadyExists);
  CloseSharedSegment(b);
  CloseSharedSegment(a);
}

TEST(SharedMemoryTest, SmallerExistingSegmentCannotBeMappedLarger) {
  const std::string name = UniqueName("small");
  Segment small(name, 100);
  ASSERT_NE(small.view, nullptr);
  bool existed = false;
  int error = 0;
  int handle = CreateSharedSegment(name, 2200, &existed, &error);
  ASSERT_GE(handle, 0);
  EXPECT_TRUE(existed);
  EXPECT_EQ(MapSharedSegment(handle, 2200, &error), nullptr);
  EXPECT_NE(error, 0);
  EXPECT_FALSE(SystemErrorText(error).empty());
  void* fits = MapSharedSegment(handle, 100, &error);
  EXPECT_NE(fits, nullptr);
  UnmapSharedSegment(fits, 100);
  CloseSharedSegment(handle);
}

TEST(SharedMemoryTest, LastCloseEndsTheSegmentButAViewStillHoldsIt) {
  const std::string name = UniqueName("life");
  {
    Segment s(name, 512);
    std::memset(s.view, 0x11, 512);
  }
  {
    Segment again(name, 512);
    EXPECT_FALSE(again.existed);
    EXPECT_TRUE(again.AllEqual(0));
    std::memset(again.view, 0x22, 512);
    // Closing the handle while the view is mapped: the view keeps the segment alive.
    CloseSharedSegment(again.handle);
    again.handle = -1;
    Segment third(name, 512);
    EXPECT_TRUE(third.existed);
    EXPECT_TRUE(third.AllEqual(0x22));
  }
  Segment fresh(name, 512);
  EXPECT_FALSE(fresh.existed);
  EXPECT_TRUE(fresh.AllEqual(0));
}

TEST(SharedMemoryTest, SegmentAcrossProcessesAndAfterAKilledHolder) {
  const std::string name = UniqueName("peer");
  const std::string dir = peer::ScratchDir("shm");
  // The peer creates the segment, finds zeros, fills it with 0xAB and holds it.
  peer::Process holder("shm-hold " + name + " 2200 171 " + dir + "hold");
  ASSERT_NE(holder.handle, 0);
  EXPECT_EQ(peer::WaitForFile(dir + "hold"), "0 0");
  {
    Segment mine(name, 2200);
    ASSERT_NE(mine.view, nullptr);
    EXPECT_TRUE(mine.existed);
    EXPECT_TRUE(mine.AllEqual(171));
    // A third process sees the same bytes too.
    peer::Process reader("shm-read " + name + " 2200 " + dir + "read");
    ASSERT_NE(reader.handle, 0);
    int code = -1;
    EXPECT_TRUE(WaitForProcess(reader.handle, 10000, &code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(peer::WaitForFile(dir + "read"), "1 171 171");
    // The holder dies without closing anything.
    holder.Kill();
    Segment stillHeld(name, 2200);
    EXPECT_TRUE(stillHeld.existed);
  }
  // Every holder is gone (one of them killed): the next holder starts from zeros.
  Segment next(name, 2200);
  ASSERT_NE(next.view, nullptr);
  EXPECT_FALSE(next.existed);
  EXPECT_TRUE(next.AllEqual(0));
}

TEST(SharedMemoryTest, KilledSoleHolderLeavesNoBytesBehind) {
  const std::string name = UniqueName("sole");
  const std::string dir = peer::ScratchDir("shm");
  peer::Process holder("shm-hold " + name + " 4096 99 " + dir + "hold");
  ASSERT_NE(holder.handle, 0);
  EXPECT_EQ(peer::WaitForFile(dir + "hold"), "0 0");
  holder.Kill();  // SIGKILL: its name and bytes stay in /dev/shm, but nobody holds them
  Segment next(name, 4096);
  ASSERT_NE(next.view, nullptr);
  EXPECT_FALSE(next.existed);
  EXPECT_TRUE(next.AllEqual(0));
}
