// libFuzzer target for the configuration component's INI reading and writing (built with
// -DVEMO_FUZZ=ON and clang).
#include "IniFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) { return FuzzIni(data, size); }
