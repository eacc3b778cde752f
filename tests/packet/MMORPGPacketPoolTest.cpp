#include "packet/MMORPGPacketPool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "packet/CPacketQueue.h"
#include "support/RecordingLog.h"

using MMORPG::MMORPGPacket;

namespace {

int32_t Count() { return MMORPGPacket::m_Count.load(); }

}  // namespace

// The pool is driven only through Alloc and Free, and watched through what they hand out,
// the handed-out count and the log lines.
TEST(MMORPGPacketPool, HandsOutItsFirst5000ThenTheLastFreedFirst) {
  RecordingLog log;
  MMORPGPacketPool pool;
  EXPECT_EQ(log.Texts(llInfo), std::vector<std::string>{"Init PacketPool Size = 5000"});
  const int32_t before = Count();

  MMORPGPacket* first = pool.Alloc();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->m_InUse, 1);
  pool.Free(first);
  EXPECT_EQ(first->m_InUse, 0);
  EXPECT_EQ(pool.Alloc(), first) << "the packet just freed is the next one handed out";

  MMORPGPacket* second = pool.Alloc();
  MMORPGPacket* third = pool.Alloc();
  pool.Free(first);
  pool.Free(second);
  pool.Free(third);
  EXPECT_EQ(pool.Alloc(), third);
  EXPECT_EQ(pool.Alloc(), second);
  EXPECT_EQ(pool.Alloc(), first);
  EXPECT_EQ(Count(), before + 3);
  for (MMORPGPacket* packet : {first, second, third}) pool.Free(packet);
  EXPECT_EQ(Count(), before);
  EXPECT_TRUE(log.Texts(llError).empty());
}

TEST(MMORPGPacketPool, RunsDryAfter5000AndGrowsBehindPacketsFreedMeanwhile) {
  RecordingLog log;
  MMORPGPacketPool pool;
  const int32_t before = Count();
  std::vector<MMORPGPacket*> taken;
  std::set<MMORPGPacket*> distinct;
  for (int i = 0; i < 5000; ++i) {
    taken.push_back(pool.Alloc());
    distinct.insert(taken.back());
  }
  ASSERT_EQ(distinct.size(), 5000u);
  ASSERT_EQ(distinct.count(nullptr), 0u);

  MMORPGPacket* grown = pool.Alloc();  // packet 5001, made by the growth
  EXPECT_EQ(distinct.count(grown), 0u);
  EXPECT_EQ(Count(), before + 5001);
  // A packet freed now goes before the grown ones that are still free.
  pool.Free(taken[3]);
  EXPECT_EQ(pool.Alloc(), taken[3]);
  MMORPGPacket* next = pool.Alloc();
  EXPECT_EQ(distinct.count(next), 0u);
  EXPECT_NE(next, grown);

  taken.push_back(grown);
  taken.push_back(next);
  for (MMORPGPacket* packet : taken) pool.Free(packet);
  EXPECT_EQ(Count(), before);
  EXPECT_TRUE(log.Texts(llError).empty());
}

TEST(MMORPGPacketPool, RefusesWhatItMustNotTakeBackAndChangesNothingElse) {
  RecordingLog log;
  MMORPGPacketPool pool;
  MMORPGPacket* packet = pool.Alloc();
  const int32_t handedOut = Count();
  pool.Free(packet);

  // A double free leaves the count alone (lowering it would make a later proper free look
  // like one too many) and does not put the packet in the free list twice.
  pool.Free(packet);
  EXPECT_EQ(log.Texts(llError), std::vector<std::string>{"MMORPGPacketPool::Free  MMORPGPacket * pack is Not Used"});
  EXPECT_EQ(Count(), handedOut - 1);
  EXPECT_EQ(pool.Alloc(), packet);
  EXPECT_NE(pool.Alloc(), packet) << "a double free must not put the packet in the free list twice";

  log.Clear();
  const int32_t count = Count();
  MMORPG::MMORPGPacket_Stack local;
  local.m_InUse = 1;
  pool.Free(&local);
  EXPECT_EQ(log.Texts(llError), std::vector<std::string>{"MMORPGPacketPool::Free  MMORPGPacket * pack can't free"});
  EXPECT_EQ(Count(), count);
  EXPECT_EQ(local.m_InUse, 1);
  EXPECT_NE(pool.Alloc(), static_cast<MMORPGPacket*>(&local)) << "a packet from the stack never enters the pool";

  // A count that would go negative keeps the packet out of the free list.
  log.Clear();
  MMORPGPacket* kept = pool.Alloc();
  const int32_t saved = Count();
  MMORPG::MMORPGPacket::m_Count.store(0);
  pool.Free(kept);
  EXPECT_EQ(log.Texts(llError), std::vector<std::string>{"Error : MMORPGPacket::Free, m_Count = -1"});
  EXPECT_EQ(Count(), 0);
  MMORPG::MMORPGPacket::m_Count.store(saved);
  MMORPGPacket* after = pool.Alloc();
  EXPECT_NE(after, kept) << "the refused packet was not recycled";

  pool.Free(nullptr);  // ignored

  // A free packet that claims to be in use is logged and handed out all the same.
  log.Clear();
  pool.Free(after);
  after->m_InUse = 1;
  EXPECT_EQ(pool.Alloc(), after);
  EXPECT_EQ(log.Texts(llError), std::vector<std::string>{"MMORPGPacketPool  m_PacketPool.Alloc == NULL"});
  EXPECT_EQ(after->m_InUse, 1);
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
