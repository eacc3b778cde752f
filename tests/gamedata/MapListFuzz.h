// The fuzzing entry for the map file loader: any bytes as the text of "MapID.txt", the first
// byte choosing the debug flag. Used by the libFuzzer target and by a seeded unit test.
#pragma once

#include <cstddef>
#include <cstdint>

// Returns 0; a broken invariant aborts (so that both libFuzzer and the test see it).
int FuzzMapList(const uint8_t* data, std::size_t size);
