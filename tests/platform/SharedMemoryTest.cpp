#include "platform/shared_memory.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "PeerHelpers.h"

using namespace platform;

namespace {

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

// True when the segment's name is still in the system's list of shared memory objects.
bool NameExists(const std::string& name) {
  int fd = shm_open(SharedMemoryObjectName(name).c_str(), O_RDONLY, 0);
  if (fd < 0) return false;
  close(fd);
  return true;
}

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
  EXPECT_EQ(CreateSharedSegment(FreshName("VemoTest_zero"), 0, nullptr, &error), -1);
  EXPECT_NE(error, 0);
  EXPECT_EQ(MapSharedSegment(12345, 64, &error), nullptr);
  CloseSharedSegment(12345);  // not ours: ignored
  CloseSharedSegment(-1);
  UnmapSharedSegment(nullptr, 64);
}

TEST(SharedMemoryTest, SameNameTwiceInOneProcessSharesTheBytes) {
  const std::string name = FreshName("VemoTest_twice");
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
  const std::string name = FreshName("VemoTest_code");
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
  const std::string name = FreshName("VemoTest_small");
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
  const std::string name = FreshName("VemoTest_life");
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
  const std::string name = FreshName("VemoTest_peer");
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
  const std::string name = FreshName("VemoTest_sole");
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

TEST(SharedMemoryTest, TwoLastHoldersLettingGoAtOnceLeaveNoName) {
  // Two threads, each the holder of one handle, let go at the same moment, round after
  // round; the race is narrow, so it takes many rounds to meet it. Batches keep the number
  // of open descriptors modest.
  constexpr int kBatches = 2;
  constexpr int kRounds = 200;
  int left = 0;
  for (int batch = 0; batch < kBatches; ++batch) {
    std::vector<std::string> names;
    std::vector<int> handles[2];
    for (int round = 0; round < kRounds; ++round) {
      names.push_back(FreshName("VemoTest_race"));
      for (auto& side : handles) side.push_back(CreateSharedSegment(names.back(), 64, nullptr, nullptr));
      ASSERT_GE(handles[1].back(), 0);
    }
    std::atomic<int> arrived{0};
    auto release = [&](int side) {
      for (int round = 0; round < kRounds; ++round) {
        // Both threads spin until the other has arrived too, then let go together.
        arrived.fetch_add(1);
        while (arrived.load() < 2 * (round + 1)) {
        }
        CloseSharedSegment(handles[side][round]);
      }
    };
    std::thread a(release, 0);
    std::thread b(release, 1);
    a.join();
    b.join();
    for (const std::string& name : names) {
      if (!NameExists(name)) continue;
      ++left;
      shm_unlink(SharedMemoryObjectName(name).c_str());
    }
  }
  EXPECT_EQ(left, 0) << "names left behind by two holders letting go at once";
}

TEST(SharedMemoryTest, NamesNobodyHoldsAreRemovedHeldAndForeignOnesStay) {
  const std::string held = FreshName("VemoTest_held");
  const std::string orphan = FreshName("VemoTest_orphan");
  const std::string foreign = FreshName("VemoTest_foreign");
  Segment mine(held, 64);
  ASSERT_NE(mine.view, nullptr);
  const std::string dir = peer::ScratchDir("shm");
  peer::Process holder("shm-hold " + orphan + " 64 1 " + dir + "hold");
  ASSERT_NE(holder.handle, 0);
  EXPECT_EQ(peer::WaitForFile(dir + "hold"), "0 0");
  holder.Kill();  // SIGKILL: its segment's name stays, held by nobody
  // Another program's object, made without this layer.
  int fd = shm_open(SharedMemoryObjectName(foreign).c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
  ASSERT_GE(fd, 0);
  close(fd);

  RemoveUnheldSharedSegments();  // (another test program may be sweeping at the same time)
  EXPECT_FALSE(NameExists(orphan));
  EXPECT_TRUE(NameExists(held));
  EXPECT_TRUE(NameExists(foreign));
  shm_unlink(SharedMemoryObjectName(foreign).c_str());
  // The held segment works on, and a new holder of the orphan's name starts afresh.
  Segment again(orphan, 64);
  EXPECT_FALSE(again.existed);
  EXPECT_TRUE(again.AllEqual(0));
}
