// The network core's interface ("Tiravo.dll"), by position: the transport of the status
// server link. The library exports GetTiravo, which returns the one core object; the link
// calls it afresh before every use. Shared by the manager and the component.
//
// Wire format towards the status server (and any other peer): every message is one frame
// of the packet layer in its default mode (FF CC, 32-bit length, no checksum) whose
// payload is the 9-byte tagPackHead followed by the body: the bytes of GetSendData.
#pragma once

#include "interfaces/ILog.h"
#include "interfaces/IPackageDispatcher.h"

namespace MMORPG {
class MMORPGPacket;
}

class ITiravo {
 public:
  // Called once when the link starts; its result is the link's Start result.
  virtual int Start() = 0;  // 0
  // True when the connection is made. The core keeps reconnecting after a drop.
  virtual bool Connect(const char* ip, int port) = 0;  // 1
  // Called when the request thread is let run.
  virtual int Resume() = 0;  // 2
  // Stops the core's work (the connection and its reconnection); on stop and release.
  virtual int Stop() = 0;  // 3
  // False while there is no connection.
  virtual bool IsConnected() = 0;  // 4
  // True once the core has reconnected by itself until ClearNeedLogin: the login must be
  // sent again (the caller of Connect sends the first one itself).
  virtual bool NeedLogin() = 0;       // 5
  virtual void ClearNeedLogin() = 0;  // 6
  // Sends one message (head and body); safe from any thread at once.
  virtual bool SendPack(const char* head, int headLen, const char* body, int bodyLen) = 0;  // 7
  // Fills `packet` (head and data) with the next received message, which then no longer
  // counts as waiting; false when there is none.
  virtual bool PopRecvPack(MMORPG::MMORPGPacket* packet) = 0;  // 8
  // The number of received messages waiting.
  virtual int GetRecvCount() = 0;  // 9
  // Called once when the link is released, after Stop.
  virtual void Shutdown() = 0;  // 10

 protected:
  ~ITiravo() = default;
};

// What the core needs of the program that loads it, handed over through the optional export
// "SetTiravoHost" right after loading and before the first GetTiravo. The table stays valid
// while the core is loaded. Without it the core neither writes lines, sends nor hands out
// received messages.
struct tagTiravoHost {
  LogSourceFunc GetLog;  // the program's log object, asked at every line
  // The program's framer, which puts messages into frames and cuts them out again.
  NewPackageDispatcherFunc NewPackageDispatcher;
  FreePackageDispatcherFunc FreePackageDispatcher;
  // Fills a packet with a received message: its 9 head bytes and its body.
  void (*FillPacket)(MMORPG::MMORPGPacket* packet, const char* head, const char* body, int bodyLen);
};

extern "C" {
typedef ITiravo* (*GetTiravoFunc)();
typedef void (*SetTiravoHostFunc)(const tagTiravoHost* host);
}
