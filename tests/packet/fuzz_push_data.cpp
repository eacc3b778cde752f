// libFuzzer target for the framer's unpacking (built with -DVEMO_FUZZ=ON and clang).
#include "PushDataFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) { return FuzzPushData(data, size); }
