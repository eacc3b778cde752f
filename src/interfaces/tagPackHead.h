// The 9-byte head that starts every packet on the status link, and the bounds of the
// server type codes it carries.
#pragma once

#include <cstdint>

namespace MMORPG {

// Server types are small codes; a valid one lies strictly between these two.
enum EServerTypeBound : uint8_t {
  stMin = 0,
  stMax = 14,
};

// Wire record, packed and little-endian like every record of the link.
#pragma pack(push, 1)
struct tagPackHead {
  uint32_t HeadTag;        // not interpreted here; 0 in heads built from scratch
  uint16_t EchoTag;        // a reply carries the value of the request it answers
  uint8_t PackType;        // packet type
  uint8_t DestServerType;  // server type of the receiver
  uint8_t SrcServerType;   // server type of the sender
};
#pragma pack(pop)

static_assert(sizeof(tagPackHead) == 9, "tagPackHead is 9 bytes on the wire");

}  // namespace MMORPG
