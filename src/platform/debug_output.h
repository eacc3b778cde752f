// Debugger output: one line to standard error, as OutputDebugString would show it.
#pragma once

#include <string>

namespace platform {

void OutputDebugString(const std::string& text);
// Tests may collect the lines instead; nullptr restores standard error.
using DebugSink = void (*)(const std::string& line);
void SetDebugSinkForTesting(DebugSink sink);

}  // namespace platform
