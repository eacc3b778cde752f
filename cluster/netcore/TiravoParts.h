// What the network core's source files share besides the class: the connection record, the
// core's log and the program's table.
#pragma once

#include <asio/ip/tcp.hpp>
#include <cstddef>
#include <string>

#include "CTiravo.h"
#include "interfaces/ComponentLog.h"

namespace netcore {

struct CTiravo::Connection {
  explicit Connection(asio::io_context& io) : Socket(io) {}
  asio::ip::tcp::socket Socket;
  bool TimedOut = false;
  bool Unresolved = false;  // the host name could not be resolved
  std::string Writing;      // the bytes of the write under way
  char ReadBuffer[64 * 1024];
};

// The log of the program that loaded the core (through SetTiravoHost).
ComponentLog& TiravoLog();
// Keeps the program's table and its log source.
void SetHost(const tagTiravoHost* host);

// A buffer that once held an unusually large message gives its memory back afterwards.
inline void ReleaseIfLarge(std::string& buffer) {
  constexpr std::size_t kKeptBufferCapacity = 1024 * 1024;
  if (buffer.capacity() > kKeptBufferCapacity) std::string().swap(buffer);
}

}  // namespace netcore
