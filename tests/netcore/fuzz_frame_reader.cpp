// libFuzzer target for the network core's frame reader (built with -DVEMO_FUZZ=ON and clang).
#include "FrameReaderFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) { return FuzzFrameReader(data, size); }
