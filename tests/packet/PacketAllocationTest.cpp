// Once the pool is warm, a message costs no heap allocation: counted by replacing the
// program's operator new.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "packet/MMORPGPacketPool.h"
#include "packet/VmPackageDispatcher.h"
#include "support/RecordingLog.h"

namespace {
std::atomic<long> g_Allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  g_Allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

long AllocationsDuring(const std::function<void()>& work) {
  const long before = g_Allocations.load();
  work();
  return g_Allocations.load() - before;
}

void OnPack(void* user, std::string_view payload) { *static_cast<std::size_t*>(user) += payload.size(); }

}  // namespace

TEST(PacketAllocation, TheWarmPoolHandsOutWithoutTheHeap) {
  RecordingLog log;
  const std::string body(200, 'm');
  auto cycle = [&] {
    for (int i = 0; i < 10000; ++i) {
      MMORPG::MMORPGPacket* packet = AllocPacket();
      packet->ReadData(body.data(), static_cast<int>(body.size()));
      FreePacket(packet);
    }
  };
  EXPECT_GT(AllocationsDuring(cycle), 5000) << "the first use creates the pool";
  EXPECT_EQ(AllocationsDuring(cycle), 0);
}

// Heap work only when the pool runs dry, and then for 500 packets at once.
TEST(PacketAllocation, ADryPoolGrowsBy500PacketsAtATime) {
  RecordingLog log;
  MMORPGPacketPool pool;
  std::vector<MMORPG::MMORPGPacket*> taken;
  taken.reserve(6001);
  auto take = [&](int count) {
    return AllocationsDuring([&] {
      for (int i = 0; i < count; ++i) taken.push_back(pool.Alloc());
    });
  };
  EXPECT_EQ(take(5000), 0) << "the 5000 packets made with the pool";
  EXPECT_GE(take(1), 500) << "the first Alloc of a dry pool makes 500 packets";
  EXPECT_EQ(take(499), 0) << "the other 499 of them";
  EXPECT_GE(take(1), 500) << "and then the next 500";
  for (MMORPG::MMORPGPacket* packet : taken) pool.Free(packet);
  taken.clear();
  EXPECT_EQ(take(5501), 0) << "the pool never shrinks";
  for (MMORPG::MMORPGPacket* packet : taken) pool.Free(packet);
}

TEST(PacketAllocation, FramingReusesItsBuffers) {
  VmPackageDispatcher framer;
  framer.SetCrcCheck(true);
  std::size_t delivered = 0;
  framer.SetPackFunc(&OnPack, &delivered);
  const std::string payload(1000, 'p');
  std::string frame(payload.size() + 10, '\0');
  auto cycle = [&] {
    for (int i = 0; i < 1000; ++i) {
      const int n = framer.PackData(payload.data(), static_cast<int>(payload.size()), frame.data(),
                                    static_cast<int>(frame.size()));
      // Split inside the payload: the tail is carried over and joined to the next push.
      framer.PushData(std::string_view(frame.data(), 100));
      framer.PushData(std::string_view(frame.data() + 100, static_cast<std::size_t>(n) - 100));
    }
  };
  AllocationsDuring(cycle);
  EXPECT_EQ(AllocationsDuring(cycle), 0);
  EXPECT_EQ(delivered, 2000u * payload.size());
}
