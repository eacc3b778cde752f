// Debugger output: one line to standard error, or to a sink a test installs.
#include "platform/debug_output.h"

#include <atomic>
#include <cstdio>

namespace platform {
namespace {
std::atomic<DebugSink> g_sink{nullptr};
}  // namespace

void OutputDebugString(const std::string& text) {
  DebugSink sink = g_sink.load(std::memory_order_acquire);
  if (sink != nullptr) {
    sink(text);
    return;
  }
  // One write per line so that lines of several threads do not interleave.
  std::string line = text;
  if (line.empty() || line.back() != '\n') line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void SetDebugSinkForTesting(DebugSink sink) { g_sink.store(sink, std::memory_order_release); }

}  // namespace platform
