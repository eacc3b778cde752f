#include "packet/PacketLog.h"

#include <atomic>

#include "interfaces/SilentLog.h"

namespace packet {

namespace {
std::atomic<LogSourceFunc> g_Source{nullptr};
}  // namespace

void SetLogSource(LogSourceFunc source) { g_Source.store(source, std::memory_order_release); }

ILog* Log() {
  static SilentLog silent;
  const LogSourceFunc source = g_Source.load(std::memory_order_acquire);
  ILog* log = source != nullptr ? source() : nullptr;
  return log != nullptr ? log : &silent;
}

}  // namespace packet
