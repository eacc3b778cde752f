// Seeded inputs for the deterministic runs of the fuzzing entries.
#pragma once

#include <cstddef>
#include <random>
#include <string>

// Damages `count` bytes of `input` after its first `keep` bytes: each one changed, or a
// byte inserted before it, at random.
inline void DamageBytes(std::string& input, std::mt19937& random, std::size_t keep, int count) {
  std::uniform_int_distribution<int> byte(0, 255);
  for (int d = 0; d < count && input.size() > keep; ++d) {
    const std::size_t at = keep + random() % (input.size() - keep);
    if (random() % 2)
      input[at] = static_cast<char>(byte(random));
    else
      input.insert(input.begin() + static_cast<long>(at), static_cast<char>(byte(random)));
  }
}
