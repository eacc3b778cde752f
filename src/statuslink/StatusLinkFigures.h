// What the status link tells about itself to readers on other threads (the metrics
// server): whether its core is connected, how many requests the manager answered, and how
// many messages wait for the status script. Plain atomics, written by the link's threads.
#pragma once

#include <atomic>
#include <cstdint>

struct StatusLinkFigures {
  std::atomic<bool> Connected{false};
  std::atomic<uint64_t> RequestsAnswered{0};
  std::atomic<int> ScriptQueueDepth{0};
};

// The process's one set of figures.
StatusLinkFigures& GetStatusLinkFigures();
