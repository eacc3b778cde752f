// A short deterministic run of the map list fuzzing entry: seeded map lists of good lines,
// comments, quotes and GBK names in both line endings, then damaged (bytes changed or
// inserted, the file cut short), plus pure noise and numbers at the 32-bit limits.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "MapListFuzz.h"
#include "support/FuzzInputs.h"

namespace {

std::string MakeInput(std::mt19937& random) {
  static const char* const kNames[] = {"Map", "Map_2", "a-b.c", "", "\"quoted name\"", "\xD0\xC2\xCA\xD6"};
  static const char* const kNumbers[] = {"1",           "0",  "-1",   "2147483647", "2147483648",
                                         "-2147483648", "+5", "0x10", "007"};
  std::uniform_int_distribution<int> byte(0, 255);
  std::string input(1, static_cast<char>(random() % 2));  // the debug flag
  if (random() % 8 == 0) {                                // noise
    const int n = static_cast<int>(random() % 300);
    for (int i = 0; i < n; ++i) input.push_back(static_cast<char>(byte(random)));
    return input;
  }
  const std::string eol = random() % 2 ? "\r\n" : "\n";
  if (random() % 10 == 0) input += "\xEF\xBB\xBF";
  const int lines = static_cast<int>(random() % 8);
  for (int i = 0; i < lines; ++i) {
    if (random() % 6 == 0) {
      input += random() % 2 ? "# MapID ServerName MapName" : "";
    } else {
      const int fields = random() % 5 == 0 ? static_cast<int>(random() % 12) : 9;
      for (int f = 0; f < fields; ++f) {
        if (f > 0) input += random() % 3 ? "\t" : "  ";
        if (f == 1 || f == 2)
          input += kNames[random() % 6];
        else
          input += random() % 3 ? std::to_string(1 + random() % 50) : kNumbers[random() % 9];
      }
      if (random() % 7 == 0) input += " # a comment";
    }
    input += eol;
  }
  DamageBytes(input, random, 1, static_cast<int>(random() % 3));
  if (random() % 5 == 0 && input.size() > 1) input.resize(1 + random() % (input.size() - 1));
  return input;
}

}  // namespace

TEST(MapListFuzz, SeededListsKeepEveryInvariant) {
  std::mt19937 random(20261210);
  for (int i = 0; i < 3000; ++i) {
    const std::string input = MakeInput(random);
    FuzzMapList(reinterpret_cast<const uint8_t*>(input.data()), input.size());
  }
  // An unterminated quote, a NUL byte and a lone carriage return.
  for (const std::string& input : {std::string("\x01"
                                               "1 Map \"open 1 1 1 1 1 1\n"),
                                   std::string("\x00"
                                               "1 Map M 1 1 1 1 1 1\0\n2 Map M 1 1 1 1 1 1\n",
                                               43),
                                   std::string("\x01"
                                               "1 Map M 1 1 1 1 1 1\r2 Map M 1 1 1 1 1 1\n")})
    FuzzMapList(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}
