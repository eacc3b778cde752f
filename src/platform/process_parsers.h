// The /proc parsers of the process layer, private to src/platform: the rest of the manager
// reads figures through process_metrics.h. Tests feed them saved samples.
#pragma once

#include <string_view>

#include "platform/process_metrics.h"

namespace platform {

bool ParseProcStatTimes(std::string_view statText, CpuTimes* times);
bool ParseProcStatus(std::string_view statusText, MemoryCounters* counters);

}  // namespace platform
