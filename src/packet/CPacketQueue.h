// The locked queue of pooled packets between the status link's request thread and the
// script step. A queued packet goes back to the pool when it is popped into the caller's
// packet, or when the queue is cleared or destroyed.
#pragma once

#include "interfaces/MMORPGPacket.h"
#include "packet/CThreadQueue.h"
#include "packet/MMORPGPacketPool.h"

namespace MMORPG {
inline void ThreadQueueRelease(MMORPGPacket* packet) { FreePacket(packet); }
inline void ThreadQueueCopy(MMORPGPacket* dst, MMORPGPacket* src) { MMORPGPacket::Copy(dst, src); }
}  // namespace MMORPG

using CPacketQueue = CThreadQueue<MMORPG::MMORPGPacket>;
