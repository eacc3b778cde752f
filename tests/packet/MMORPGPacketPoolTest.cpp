#include "packet/MMORPGPacketPool.h"

#include <gtest/gtest.h>

#include <cstring>

#include "packet/CPacketQueue.h"
#include "support/RecordingLog.h"

using MMORPG::MMORPGPacket;

namespace {

int32_t Count() { return MMORPGPacket::m_Count.load(); }

}  // namespace

TEST(MMORPGPacketPool, HandsOutInCreationOrderThenLastFreedFirst) {
  RecordingLog log;
  MMORPGPacketPool pool;
  EXPECT_EQ(log.Texts(llInfo), std::vector<std::string>{"Init PacketPool Size = 5000"});
  EXPECT_EQ(pool.m_PacketPool.Count(), 5000);
  EXPECT_EQ(pool.m_PacketPool.GetGrowCount(), 500);

  MMORPGPacket* first = pool.Alloc();
  EXPECT_EQ(first, pool.m_PacketPool.Get(0));
  EXPECT_EQ(first->m_InUse, 1);
  MMORPGPacket* second = pool.Alloc();
  EXPECT_EQ(second, pool.m_PacketPool.Get(1));
  pool.Free(first);
  EXPECT_EQ(first->m_InUse, 0);
  pool.Free(second);
  EXPECT_EQ(pool.Alloc(), second);
  EXPECT_EQ(pool.Alloc(), first);
  EXPECT_EQ(pool.Alloc(), pool.m_PacketPool.Get(2));
  pool.Free(pool.m_PacketPool.Get(2));
  pool.Free(first);
  pool.Free(second);
  EXPECT_EQ(pool.m_PacketPool.EmptyCount(), 5000);
  EXPECT_EQ(log.Texts(llError).size(), 0u);
}

TEST(MMORPGPacketPool, GrowsBy500BehindPacketsFreedMeanwhile) {
  RecordingLog log;
  MMORPGPacketPool pool;
  const int32_t before = Count();
  std::vector<MMORPGPacket*> taken;
  for (int i = 0; i < 5000; ++i) taken.push_back(pool.Alloc());
  EXPECT_EQ(pool.m_PacketPool.EmptyCount(), 0);
  MMORPGPacket* next = pool.Alloc();
  taken.push_back(next);
  EXPECT_EQ(pool.m_PacketPool.Count(), 5500);
  EXPECT_EQ(next, pool.m_PacketPool.Get(5000));
  EXPECT_EQ(pool.m_PacketPool.EmptyCount(), 499);
  EXPECT_EQ(Count(), before + 5001);

  pool.Free(taken[3]);
  EXPECT_EQ(pool.Alloc(), taken[3]);
  EXPECT_EQ(pool.Alloc(), pool.m_PacketPool.Get(5001));
  taken.push_back(pool.m_PacketPool.Get(5001));
  for (MMORPGPacket* packet : taken) pool.Free(packet);
  EXPECT_EQ(Count(), before);
  EXPECT_EQ(pool.m_PacketPool.EmptyCount(), 5500);
  EXPECT_TRUE(log.Texts(llError).empty());
}

TEST(MMORPGPacketPool, RefusesWhatItMustNotTakeBackAndChangesNothingElse) {
  RecordingLog log;
  MMORPGPacketPool pool;
  MMORPGPacket* packet = pool.Alloc();
  const int32_t handedOut = Count();
  pool.Free(packet);
  const int free = pool.m_PacketPool.EmptyCount();

  pool.Free(packet);  // a double free
  EXPECT_EQ(log.Texts(llError), std::vector<std::string>{"MMORPGPacketPool::Free  MMORPGPacket * pack is Not Used"});
  EXPECT_EQ(Count(), handedOut - 1);
  EXPECT_EQ(pool.m_PacketPool.EmptyCount(), free);

  log.Clear();
  MMORPG::MMORPGPacket_Stack local;
  local.m_InUse = 1;
  pool.Free(&local);
  EXPECT_EQ(log.Texts(llError), std::vector<std::string>{"MMORPGPacketPool::Free  MMORPGPacket * pack can't free"});
  EXPECT_EQ(Count(), handedOut - 1);
  EXPECT_EQ(pool.m_PacketPool.EmptyCount(), free);
  EXPECT_EQ(local.m_InUse, 1);

  // A count that would go negative keeps the packet out of the free list.
  log.Clear();
  packet = pool.Alloc();
  const int32_t saved = Count();
  MMORPGPacket::m_Count.store(0);
  pool.Free(packet);
  EXPECT_EQ(log.Texts(llError), std::vector<std::string>{"Error : MMORPGPacket::Free, m_Count = -1"});
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(pool.m_PacketPool.EmptyCount(), free - 1);
  MMORPGPacket::m_Count.store(saved);
  pool.Free(packet);
  EXPECT_EQ(pool.m_PacketPool.EmptyCount(), free);

  pool.Free(nullptr);  // ignored

  // A free packet that claims to be in use is logged and handed out all the same.
  log.Clear();
  packet = pool.Alloc();
  pool.Free(packet);
  packet->m_InUse = 1;
  EXPECT_EQ(pool.Alloc(), packet);
  EXPECT_EQ(log.Texts(llError), std::vector<std::string>{"MMORPGPacketPool  m_PacketPool.Alloc == NULL"});
  EXPECT_EQ(packet->m_InUse, 1);
  pool.Free(packet);
}

TEST(AllocPacket, RecyclesAResetPacketWithItsHeadZeroed) {
  RecordingLog log;
  const int32_t before = Count();
  MMORPGPacket* packet = AllocPacket();
  ASSERT_NE(packet, nullptr);
  EXPECT_EQ(Count(), before + 1);
  packet->SetHead("\x01\x02\x03\x04\x05\x06\x07\x08\x09", 9);
  packet->ReadData("abc", 3);
  packet->m_IsRaw = 1;
  FreePacket(packet);
  EXPECT_EQ(Count(), before);
  MMORPGPacket* again = MMORPG::AllocPacket();
  EXPECT_EQ(again, packet);
  EXPECT_EQ(again->GetDataLen(), 0);
  EXPECT_EQ(again->m_IsRaw, 0);
  EXPECT_EQ(again->m_PackHead.HeadTag, 0u);
  EXPECT_EQ(again->m_PackHead.SrcServerType, 0);
  EXPECT_EQ(GetPacketPool(), GetPacketPool());
  FreePacket(again);
  FreePacket(nullptr);
  EXPECT_TRUE(log.Texts(llError).empty());
}

TEST(CPacketQueue, PacketPopCopiesInOrderAndGivesThePacketBack) {
  RecordingLog log;
  const int32_t before = Count();
  CPacketQueue queue;
  MMORPG::MMORPGPacket_Stack out;
  out.ReadData("untouched", 9);
  EXPECT_FALSE(queue.PacketPop(&out));
  EXPECT_EQ(std::string(out.GetData()), "untouched");

  std::vector<MMORPGPacket*> pushed;
  for (const char* body : {"one", "two", "three"}) {
    MMORPGPacket* packet = AllocPacket();
    packet->ReadData(body, static_cast<int>(strlen(body)));
    packet->m_PackHead.EchoTag = static_cast<uint16_t>(strlen(body));
    EXPECT_TRUE(queue.Push(packet));
    pushed.push_back(packet);
  }
  EXPECT_EQ(queue.GetCount(), 3);
  EXPECT_EQ(queue.Front(), pushed[0]);
  EXPECT_EQ(Count(), before + 3);

  out.m_InUse = 0;
  ASSERT_TRUE(queue.PacketPop(&out));
  EXPECT_EQ(std::string(out.GetData()), "one");
  EXPECT_EQ(out.m_PackHead.EchoTag, 3);
  EXPECT_EQ(out.m_InUse, 0);
  EXPECT_EQ(pushed[0]->m_InUse, 0) << "the queued packet went back to the pool";
  EXPECT_EQ(Count(), before + 2);
  ASSERT_TRUE(queue.PacketPop(&out));
  EXPECT_EQ(std::string(out.GetData()), "two");
  EXPECT_EQ(queue.GetCount(), 1);
  EXPECT_EQ(queue.Pop(), pushed[2]);
  EXPECT_EQ(queue.Pop(), nullptr);
  EXPECT_EQ(queue.Front(), nullptr);
  FreePacket(pushed[2]);
  EXPECT_EQ(Count(), before);
  EXPECT_TRUE(log.Texts(llWarn).empty());
  EXPECT_TRUE(log.Texts(llError).empty());
}

TEST(CPacketQueue, DestroyingOrClearingGivesEveryPacketBack) {
  RecordingLog log;
  const int32_t before = Count();
  {
    CPacketQueue queue;
    for (int i = 0; i < 10; ++i) queue.Push(AllocPacket());
    EXPECT_EQ(Count(), before + 10);
  }
  EXPECT_EQ(Count(), before);

  CPacketQueue queue;
  queue.Push(AllocPacket());
  queue.Push(nullptr);
  queue.Push(AllocPacket());
  queue.Clear();
  EXPECT_EQ(Count(), before);
  EXPECT_EQ(queue.GetCount(), 0);
  EXPECT_EQ(log.Texts(llWarn), std::vector<std::string>{"CThreadQueue<T>::Clear()  m_Queue->Pop()== NULL"});

  log.Clear();
  MMORPG::MMORPGPacket_Stack out;
  queue.Push(nullptr);
  EXPECT_FALSE(queue.PacketPop(&out));
  EXPECT_EQ(log.Texts(llWarn),
            std::vector<std::string>{"CThreadQueue<T>::PacketPop(T * Packet)  m_Queue->Pop()== NULL"});
  EXPECT_TRUE(log.Texts(llError).empty());
}
