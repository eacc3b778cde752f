// The process-wide packet pool: 5000 packets made on first use, handed out with
// AllocPacket and taken back with FreePacket, 500 more whenever it runs dry. It never
// shrinks and lives until the process ends. Every inconsistency (a double free, a packet
// that is not the pool's to take, a negative count) is logged and changes nothing else.
#pragma once

#include "interfaces/MMORPGPacket.h"
#include "packet/AAutoQueue.h"

class MMORPGPacketPool {
 public:
  static constexpr int kInitialPackets = 5000;
  static constexpr int kGrowPackets = 500;

  MMORPGPacketPool();
  MMORPGPacketPool(const MMORPGPacketPool&) = delete;
  MMORPGPacketPool& operator=(const MMORPGPacketPool&) = delete;

  // A free packet, marked in use; null when none can be had.
  MMORPG::MMORPGPacket* Alloc();
  // Takes a packet back: reset and put first in line for the next Alloc.
  void Free(MMORPG::MMORPGPacket* packet);

  AAutoQueue<MMORPG::MMORPGPacket> m_PacketPool;
};

// The process-wide pool, created on the first call.
MMORPGPacketPool* GetPacketPool();
// A packet from the process-wide pool with its head zeroed, or null.
MMORPG::MMORPGPacket* AllocPacket();
// Gives a packet back to the process-wide pool; null is ignored.
void FreePacket(MMORPG::MMORPGPacket* packet);

namespace MMORPG {
using ::AllocPacket;
using ::FreePacket;
}  // namespace MMORPG
