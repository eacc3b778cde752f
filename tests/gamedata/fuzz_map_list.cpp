// libFuzzer target for the map file loader (built with -DVEMO_FUZZ=ON and clang).
#include "MapListFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) { return FuzzMapList(data, size); }
