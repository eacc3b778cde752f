// The fuzzing entry for the network core's frame reader: any bytes, in any chunking, with a
// small message limit and a receiver that may refuse. Used by the libFuzzer target and by a
// seeded unit test.
#pragma once

#include <cstddef>
#include <cstdint>

// Returns 0; a broken invariant aborts (so that both libFuzzer and the test see it).
int FuzzFrameReader(const uint8_t* data, std::size_t size);
