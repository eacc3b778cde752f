// libFuzzer target for a hostile shared record (built with -DVEMO_FUZZ=ON and clang).
#include "HostileRecordFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) { return FuzzHostileRecord(data, size); }
