#include "packet/MMORPGPacketPool.h"

#include <atomic>

#include "packet/CResGuard.h"
#include "packet/PacketLog.h"

using MMORPG::MMORPGPacket;

MMORPGPacketPool::MMORPGPacketPool() : m_PacketPool(true, 10, 1000) {
  m_PacketPool.Fill(kInitialPackets);
  m_PacketPool.SetGrowCount(kGrowPackets);
  packet::Log()->LogInfo("Init PacketPool Size = %d", kInitialPackets);
}

MMORPGPacket* MMORPGPacketPool::Alloc() {
  // The packet leaves the free list under the queue's lock; from then on it is this
  // caller's alone, so its flag needs no lock.
  MMORPGPacket* packet = m_PacketPool.Alloc();
  if (packet == nullptr || packet->m_InUse) packet::Log()->LogError("MMORPGPacketPool  m_PacketPool.Alloc == NULL");
  if (packet == nullptr) return nullptr;
  MMORPGPacket::m_Count.fetch_add(1);
  packet->m_InUse = 1;
  return packet;
}

void MMORPGPacketPool::Free(MMORPGPacket* packet) {
  if (packet == nullptr) return;
  if (!packet->CanFree()) {
    packet::Log()->LogError("MMORPGPacketPool::Free  MMORPGPacket * pack can't free");
    return;
  }
  // Held over the whole return, so that two threads freeing the same packet cannot both
  // see it in use and put it into the free list twice.
  TLockObj lock(m_PacketPool.Section());
  // A packet that is not handed out (a double free) leaves the count alone: lowering it
  // would later make a proper free look like one too many and keep that packet out of
  // the pool for good.
  if (!packet->m_InUse) {
    packet::Log()->LogError("MMORPGPacketPool::Free  MMORPGPacket * pack is Not Used");
    return;
  }
  const int32_t count = MMORPGPacket::m_Count.fetch_sub(1) - 1;
  if (count < 0) {
    packet::Log()->LogError("Error : MMORPGPacket::Free, m_Count = %d", count);
    MMORPGPacket::m_Count.fetch_add(1);
    return;
  }
  packet->Reset();
  m_PacketPool.FreeElement(packet);
}

namespace {
std::atomic<MMORPGPacketPool*> g_PacketPool{nullptr};
}  // namespace

MMORPGPacketPool* GetPacketPool() {
  MMORPGPacketPool* pool = g_PacketPool.load(std::memory_order_acquire);
  if (pool != nullptr) return pool;
  SingletonEx::CGuard guard(SingletonEx::ProcessGuard());
  pool = g_PacketPool.load(std::memory_order_relaxed);
  if (pool == nullptr) {
    // Never destroyed: packets may be in use on any thread until the process ends.
    pool = new MMORPGPacketPool();
    g_PacketPool.store(pool, std::memory_order_release);
  }
  return pool;
}

MMORPGPacket* AllocPacket() {
  MMORPGPacket* packet = GetPacketPool()->Alloc();
  if (packet != nullptr) packet->m_PackHead = MMORPG::tagPackHead{};
  return packet;
}

void FreePacket(MMORPGPacket* packet) {
  if (packet == nullptr) return;
  GetPacketPool()->Free(packet);
}
