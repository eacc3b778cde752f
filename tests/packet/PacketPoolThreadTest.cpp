// The pool and the packet queue used from two threads at once (also run under
// ThreadSanitizer): every packet handed out comes back, and the count ends at zero.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "packet/CPacketQueue.h"
#include "packet/MMORPGPacketPool.h"
#include "support/RecordingLog.h"

using MMORPG::MMORPGPacket;

TEST(PacketPoolThreads, TwoThreadsAllocateAndFree) {
  RecordingLog log;
  auto work = [](int seed) {
    std::vector<MMORPGPacket*> held;
    for (int i = 0; i < 20000; ++i) {
      // Hold up to a few packets at a time so that both threads also grow the pool.
      if (held.size() < 8 || (i + seed) % 3 == 0) {
        MMORPGPacket* packet = AllocPacket();
        ASSERT_NE(packet, nullptr);
        ASSERT_EQ(packet->GetDataLen(), 0);
        const std::string body = std::to_string(seed * 100000 + i);
        packet->ReadData(body.data(), static_cast<int>(body.size()));
        held.push_back(packet);
      } else {
        FreePacket(held.back());
        held.pop_back();
      }
    }
    for (MMORPGPacket* packet : held) FreePacket(packet);
  };
  std::thread a(work, 1);
  std::thread b(work, 2);
  a.join();
  b.join();
  EXPECT_EQ(MMORPGPacket::m_Count.load(), 0);
  EXPECT_EQ(GetPacketPool()->m_PacketPool.EmptyCount(), GetPacketPool()->m_PacketPool.Count());
  EXPECT_TRUE(log.Texts(llError).empty());
}

TEST(PacketPoolThreads, QueueHandsPacketsAcrossInOrder) {
  RecordingLog log;
  constexpr int kMessages = 20000;
  CPacketQueue queue;
  std::atomic<bool> producing{true};

  std::thread producer([&] {
    for (int i = 0; i < kMessages; ++i) {
      MMORPGPacket* packet = AllocPacket();
      const std::string body = std::to_string(i);
      packet->ReadData(body.data(), static_cast<int>(body.size()));
      packet->m_PackHead.EchoTag = static_cast<uint16_t>(i);
      queue.Push(packet);
    }
    producing = false;
  });

  std::vector<int> received;
  MMORPG::MMORPGPacket_Stack out;
  while (producing || queue.GetCount() > 0) {
    if (queue.PacketPop(&out)) {
      received.push_back(std::stoi(std::string(out.GetData(), out.GetDataLen())));
      ASSERT_EQ(out.m_PackHead.EchoTag, static_cast<uint16_t>(received.back()));
    } else {
      std::this_thread::yield();
    }
  }
  producer.join();
  ASSERT_EQ(received.size(), static_cast<std::size_t>(kMessages));
  for (int i = 0; i < kMessages; ++i) ASSERT_EQ(received[static_cast<std::size_t>(i)], i);
  EXPECT_EQ(MMORPGPacket::m_Count.load(), 0);
  EXPECT_TRUE(log.Lines().size() <= 1u) << "only the pool's start-up line";
}
