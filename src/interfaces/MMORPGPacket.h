// The unit of traffic on the status link: a 9-byte head, a body of bytes, a few attribute
// words carried for the components that share the record, and the pool's in-use flag.
// Every packet owns a framer, which it uses only to put itself into wire form.
//
// The record is handed to the components (the network core fills one, the status logic
// component reads one), so its declaration sits with the interfaces; its operations are the
// program's (src/packet). A component uses only the inline ones: the network core fills a
// packet through the table the program hands it (tagTiravoHost::FillPacket).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "interfaces/IPackageDispatcher.h"
#include "interfaces/tagPackHead.h"

namespace MMORPG {

class MMORPGPacket {
 public:
  MMORPGPacket();
  virtual ~MMORPGPacket();
  MMORPGPacket(const MMORPGPacket&) = delete;
  MMORPGPacket& operator=(const MMORPGPacket&) = delete;

  // False makes the pool refuse the packet.
  virtual bool CanFree() { return true; }

  // Empties the data and clears the attributes A, B, D, E, the raw flag and the in-use
  // flag; the head and attribute C stay.
  void Reset();
  // Copies Len bytes into the data (Len 0 empties it). A negative Len is logged and
  // changes nothing. Returns Len.
  int ReadData(const char* lpData, int Len);
  // Never null: an empty packet yields an empty text.
  const char* GetData() const { return m_Data.c_str(); }
  int GetDataLen() const { return static_cast<int>(m_Data.size()); }
  // Zeroes the head and copies 9 bytes into it. `len` is what the caller vouches for:
  // 0 unchecked, 9 correct, anything else is logged with a dump. Returns 9.
  int SetHead(const char* bytes, int len);
  // Copies head, attributes and data from src into dst (never the in-use flag); a null
  // src resets dst.
  static void Copy(MMORPGPacket* dst, const MMORPGPacket* src);
  // The packet as one frame: the head and data (or, when raw, the data alone).
  std::string GetSendData();

  IPackageDispatcher* Dispatcher() const { return m_Dispatcher; }

  // Packets handed out by the pool minus packets given back; changed only atomically.
  static std::atomic<int32_t> m_Count;

 private:
  IPackageDispatcher* m_Dispatcher;

 public:
  tagPackHead m_PackHead;

 private:
  std::string m_Data;

 public:
  // Carried unchanged for the components that share the record; never set here.
  uint32_t m_AttrA = 0;
  uint8_t m_AttrB = 0;
  // When set, GetSendData frames the data alone, without the head.
  uint8_t m_IsRaw = 0;
  uint32_t m_AttrC = 1;
  uint32_t m_AttrD = 0;
  uint32_t m_AttrE = 0;
  // Set by the pool while the packet is handed out.
  uint8_t m_InUse = 0;
};

// A packet for local copies: the pool refuses it.
class MMORPGPacket_Stack : public MMORPGPacket {
 public:
  bool CanFree() override { return false; }
};

}  // namespace MMORPG
