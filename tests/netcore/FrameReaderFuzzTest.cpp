// A short deterministic run of the frame reader's fuzzing entry: streams of well-formed
// messages, then damaged (bytes changed, inserted, cut short), with small limits and a
// receiver that refuses; plus pure noise.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "FrameReaderFuzz.h"

TEST(FrameReaderFuzz, SeededStreamsKeepEveryInvariant) {
  std::mt19937 random(20261209);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int n = 0; n < 4000; ++n) {
    std::string input;
    for (int i = 0; i < 3; ++i) input.push_back(static_cast<char>(byte(random)));
    const int kind = static_cast<int>(random() % 4);
    if (kind == 0) {
      for (int i = static_cast<int>(random() % 200); i > 0; --i) input.push_back(static_cast<char>(byte(random)));
    } else {
      for (int frames = 1 + static_cast<int>(random() % 6); frames > 0; --frames) {
        // Mostly within the limit the first byte sets (9 to 72 bytes), sometimes over it or
        // shorter than a head.
        const uint32_t length = static_cast<uint32_t>(random() % 8 == 0 ? random() % 100 : 9 + random() % 50);
        input += "\xFF\xCC";
        for (int i = 0; i < 4; ++i) input.push_back(static_cast<char>((length >> (8 * i)) & 0xFF));
        for (uint32_t i = 0; i < length; ++i) input.push_back(static_cast<char>(byte(random)));
      }
      if (kind >= 2) {
        for (int damage = 1 + static_cast<int>(random() % 3); damage > 0 && input.size() > 4; --damage) {
          const std::size_t at = 3 + random() % (input.size() - 3);
          if (random() % 2)
            input[at] = static_cast<char>(byte(random));
          else
            input.insert(input.begin() + static_cast<long>(at), static_cast<char>(byte(random)));
        }
      }
      if (kind == 3) input.resize(3 + random() % (input.size() - 2));
    }
    FuzzFrameReader(reinterpret_cast<const uint8_t*>(input.data()), input.size());
  }
  // Lengths at the edges of the 32-bit field.
  for (uint32_t length : {0u, 8u, 9u, 72u, 73u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    std::string input = {'\x3F', '\xFF', '\x05', '\xFF', '\xCC'};
    for (int i = 0; i < 4; ++i) input.push_back(static_cast<char>((length >> (8 * i)) & 0xFF));
    input += std::string(80, 'p');
    FuzzFrameReader(reinterpret_cast<const uint8_t*>(input.data()), input.size());
  }
}
