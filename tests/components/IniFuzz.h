// The fuzzing entry for the configuration component's reading and writing of INI text: any
// bytes as the file's text. Used by the libFuzzer target and by a seeded unit test.
#pragma once

#include <cstddef>
#include <cstdint>

// Returns 0; a broken invariant aborts (so that both libFuzzer and the test see it).
int FuzzIni(const uint8_t* data, std::size_t size);
