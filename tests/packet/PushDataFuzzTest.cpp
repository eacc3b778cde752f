// A short deterministic run of the fuzzing entry: seeded inputs made of well-formed
// frames in both modes, then damaged (bytes changed, inserted, cut short), plus pure noise.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "PushDataFuzz.h"
#include "interfaces/IPackageDispatcher.h"
#include "support/FuzzInputs.h"

namespace {

std::string MakeInput(std::mt19937& random) {
  std::uniform_int_distribution<int> byte(0, 255);
  const int flags = byte(random) & 3;
  std::string input;
  input.push_back(static_cast<char>(flags));
  input.push_back(static_cast<char>(byte(random)));
  const int kind = static_cast<int>(random() % 4);
  if (kind == 0) {  // noise
    const int n = static_cast<int>(random() % 200);
    for (int i = 0; i < n; ++i) input.push_back(static_cast<char>(byte(random)));
    return input;
  }
  IPackageDispatcher* framer = NewPackageDispatcher();
  framer->SetLenMode(flags & 1);
  framer->SetCrcCheck((flags & 2) != 0);
  const int frames = 1 + static_cast<int>(random() % 5);
  for (int f = 0; f < frames; ++f) {
    std::string payload(random() % 40, '\0');
    for (char& c : payload) c = static_cast<char>(byte(random));
    std::string frame(payload.size() + 16, '\0');
    const int n = framer->PackData(payload.data(), static_cast<int>(payload.size()), frame.data(),
                                   static_cast<int>(frame.size()));
    input.append(frame, 0, static_cast<std::size_t>(n));
  }
  FreePackageDispatcher(framer);
  if (kind >= 2) DamageBytes(input, random, 2, 1 + static_cast<int>(random() % 3));  // often in a head
  if (kind == 3) input.resize(2 + random() % (input.size() - 1));
  return input;
}

}  // namespace

TEST(PushDataFuzz, SeededInputsKeepEveryInvariant) {
  std::mt19937 random(20240611);
  for (int i = 0; i < 4000; ++i) {
    const std::string input = MakeInput(random);
    FuzzPushData(reinterpret_cast<const uint8_t*>(input.data()), input.size());
  }
  // Large lengths and the 100 MiB boundary in both modes, without and with the checksum.
  for (int flags = 0; flags < 4; ++flags) {
    for (uint32_t length : {0u, 1u, 3u, 4u, 5u, 65535u, 104857594u, 104857595u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
      std::string input = {static_cast<char>(flags), 7, '\xFF', '\xCC'};
      for (int i = 0; i < 4; ++i) input.push_back(static_cast<char>((length >> (8 * i)) & 0xFF));
      input += "payload";
      FuzzPushData(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    }
  }
}
