// The fuzzing entry for the framer's unpacking: any bytes, any chunking, both length modes,
// with and without the checksum. Used by the libFuzzer target and by a seeded unit test.
#pragma once

#include <cstddef>
#include <cstdint>

// Returns 0; a broken invariant aborts (so that both libFuzzer and the test see it).
int FuzzPushData(const uint8_t* data, std::size_t size);
