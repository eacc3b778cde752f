// The datagram format of the message bus (see message_bus_internal.h).
#include <cstring>

#include "platform/debug_output.h"
#include "platform/message_bus_internal.h"

namespace platform::bus {
namespace {

constexpr uint32_t kMagic = 0x53554256;  // "VBUS" read as a little-endian word
constexpr uint16_t kVersion = 1;

void PutLe(uint8_t* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}
uint64_t GetLe(const uint8_t* in, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(in[i]) << (8 * i);
  return value;
}

}  // namespace

std::vector<uint8_t> Encode(BusMessage::Kind kind, WindowHandle from, uint32_t msg, uint64_t wParam, uint64_t lParam,
                            const void* data, std::size_t size) {
  std::vector<uint8_t> datagram(kHeaderSize + size);
  uint8_t* p = datagram.data();
  PutLe(p + 0, kMagic, 4);
  PutLe(p + 4, kVersion, 2);
  p[6] = static_cast<uint8_t>(kind);
  p[7] = 0;
  PutLe(p + 8, from, 4);
  PutLe(p + 12, msg, 4);
  PutLe(p + 16, wParam, 8);
  PutLe(p + 24, lParam, 8);
  PutLe(p + 32, size, 4);
  if (size > 0) std::memcpy(p + kHeaderSize, data, size);
  return datagram;
}

bool Decode(const uint8_t* p, std::size_t length, BusMessage* message) {
  if (length < kHeaderSize) {
    OutputDebugString("MessageBus: short datagram of " + std::to_string(length) + " bytes dropped");
    return false;
  }
  if (GetLe(p, 4) != kMagic || GetLe(p + 4, 2) != kVersion) {
    OutputDebugString("MessageBus: datagram with a bad magic or version dropped");
    return false;
  }
  uint8_t kind = p[6];
  if (kind < static_cast<uint8_t>(BusMessage::Kind::Message) || kind > static_cast<uint8_t>(BusMessage::Kind::Raise)) {
    OutputDebugString("MessageBus: datagram of unknown kind " + std::to_string(kind) + " dropped");
    return false;
  }
  uint64_t dataLength = GetLe(p + 32, 4);
  if (dataLength > kMaxCopyDataSize || dataLength != length - kHeaderSize ||
      (dataLength != 0 && kind != static_cast<uint8_t>(BusMessage::Kind::CopyData))) {
    OutputDebugString("MessageBus: datagram with a wrong data length dropped");
    return false;
  }
  message->kind = static_cast<BusMessage::Kind>(kind);
  message->From = static_cast<WindowHandle>(GetLe(p + 8, 4));
  message->Msg = static_cast<uint32_t>(GetLe(p + 12, 4));
  message->WParam = GetLe(p + 16, 8);
  message->LParam = GetLe(p + 24, 8);
  message->Data.assign(p + kHeaderSize, p + kHeaderSize + dataLength);
  return true;
}

}  // namespace platform::bus
