// The pieces of the message bus that its files share: the endpoint directory and the
// datagram format. Private to the platform layer.
//
// Each endpoint is a bound datagram socket "<handle>.sock" and an info file
// "<handle>.info" holding the owner's pid, the window class and the title, in the user's
// private runtime directory "vemo-bus".
//
// Wire format of a datagram (little-endian, packed):
//   u32 magic "VBUS", u16 version 1, u8 kind, u8 reserved 0, u32 from, u32 msg,
//   u64 wparam, u64 lparam, u32 data length, then the data (copy data only).
#pragma once

#include <sys/un.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/message_bus.h"

namespace platform::bus {

constexpr std::size_t kHeaderSize = 36;

// The bus directory (ending in "/"), created when missing; "" (with a debug line) when it
// cannot be made or is not safe to use.
std::string Directory();
// A socket address for `path`; false when the path is too long for one.
bool MakeAddress(const std::string& path, sockaddr_un* addr);

struct EndpointInfo {
  uint32_t pid = 0;
  std::string windowClass;
  std::string title;
};
// Writes the info file of endpoint `handle` in `dir` whole (a reader never sees half of it).
bool WriteInfo(const std::string& dir, WindowHandle handle, const EndpointInfo& info);

// The datagram of one message; `size` bytes of `data` follow the header.
std::vector<uint8_t> Encode(BusMessage::Kind kind, WindowHandle from, uint32_t msg, uint64_t wParam, uint64_t lParam,
                            const void* data, std::size_t size);
// One received datagram's check and decoding into everything but the sender's pid; false
// (with a debug line) for a malformed one.
bool Decode(const uint8_t* bytes, std::size_t length, BusMessage* message);

}  // namespace platform::bus
