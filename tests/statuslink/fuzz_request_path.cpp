// libFuzzer target for the status link's request path (built with -DVEMO_FUZZ=ON and clang).
#include "RequestPathFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static RequestPathFuzzer fuzzer;
  return fuzzer.Run(data, size);
}
