// A short deterministic run of the INI fuzzing entry: seeded files made of sections, keys,
// comments and blank lines in both line endings, then damaged (bytes changed, inserted,
// lines cut), plus pure noise.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "IniFuzz.h"
#include "support/FuzzInputs.h"

namespace {

std::string MakeInput(std::mt19937& random) {
  static const char* const kSections[] = {"MapManager", "mapmanager", "Other", "", " MapManager "};
  static const char* const kKeys[] = {"edtSSIP", "EDTSSIP", "edtSSPort", "cbDebugModule", "edtMutexSign", "x"};
  static const char* const kValues[] = {"1", "0", "127.0.0.1", " spaced value ", "", "\xD6\xD0\xCE\xC4", "=x="};
  std::uniform_int_distribution<int> byte(0, 255);
  std::string input;
  if (random() % 8 == 0) {  // noise
    const int n = static_cast<int>(random() % 300);
    for (int i = 0; i < n; ++i) input.push_back(static_cast<char>(byte(random)));
    return input;
  }
  const std::string eol = random() % 2 ? "\r\n" : "\n";
  if (random() % 10 == 0) input += "\xEF\xBB\xBF";
  const int lines = static_cast<int>(random() % 12);
  for (int i = 0; i < lines; ++i) {
    switch (random() % 5) {
      case 0: input += std::string("[") + kSections[random() % 5] + "]"; break;
      case 1: input += random() % 2 ? "; comment" : "# comment"; break;
      case 2: break;
      default: input += std::string(kKeys[random() % 6]) + (random() % 2 ? "=" : " = ") + kValues[random() % 7];
    }
    if (i + 1 < lines || random() % 2) input += eol;
  }
  DamageBytes(input, random, 0, static_cast<int>(random() % 3));
  return input;
}

}  // namespace

TEST(IniFuzz, SeededFilesKeepEveryInvariant) {
  std::mt19937 random(20261209);
  for (int i = 0; i < 3000; ++i) {
    const std::string input = MakeInput(random);
    FuzzIni(reinterpret_cast<const uint8_t*>(input.data()), input.size());
  }
  // Lines that a stray carriage return or a NUL byte spoils, and last lines ending in one.
  for (const std::string& input : {std::string("[Other]\r[MapManager]\nedtSSIP=1\n"), std::string("a=1\rb\n"),
                                   std::string("#\r["), std::string("[MapManager]\nedtSSIP=1\0x\nedtSSPort=5\n", 33),
                                   std::string("\x82\r\n=\r"), std::string("\r==\r\r")})
    FuzzIni(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}
