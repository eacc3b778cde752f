// A short deterministic run of the request path's fuzzing entry: seeded messages of every
// kind the manager answers (with names and parameters that probe the file fetch), other
// messages, damaged and random ones, and hostile record texts.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "RequestPathFuzz.h"
#include "interfaces/StatusWire.h"

namespace {

std::string Message(std::mt19937& random, const std::string& body) {
  std::string out;
  out.push_back(static_cast<char>(body.size() & 0xFF));
  out.push_back(static_cast<char>(body.size() >> 8));
  for (int i = 0; i < 9; ++i) out.push_back(static_cast<char>(random()));
  return out + body;
}

std::string MakeInput(std::mt19937& random) {
  static const char* const params[] = {"a.log",       "e.log", "f.log",  "d.log", "missing.log", "../a.log",
                                       "/etc/passwd", "..",    "a.log/", "",      "a.log\0b"};
  std::uniform_int_distribution<int> byte(0, 255);
  std::string input(1, static_cast<char>(random() % 4));
  if (input[0] & 1)
    for (int i = 0; i < 60; ++i) input.push_back(static_cast<char>(byte(random)));
  if (input[0] & 2) input.push_back(static_cast<char>(byte(random)));
  const int count = 1 + static_cast<int>(random() % 6);
  for (int m = 0; m < count; ++m) {
    std::string body;
    switch (random() % 5) {
      case 0: body = std::string("\x06\x01", 2); break;
      case 1:
        body = statuswire::CommonCmdBody("GetErrorLog", params[random() % (sizeof params / sizeof *params)]);
        break;
      case 2: body = statuswire::CommonCmdBody(random() % 2 ? "GetHostInfo" : "GetErrorLo", "x"); break;
      default:
        body.resize(random() % 60);
        for (char& c : body) c = static_cast<char>(byte(random));
        break;
    }
    if (random() % 4 == 0 && !body.empty()) body[random() % body.size()] = static_cast<char>(byte(random));
    if (random() % 6 == 0) body.resize(random() % (body.size() + 1));
    input += Message(random, body);
  }
  if (random() % 8 == 0) input.resize(random() % (input.size() + 1));  // a message cut short
  return input;
}

TEST(RequestPathFuzz, SeededInputsKeepEveryInvariant) {
  RequestPathFuzzer fuzzer;
  std::mt19937 random(20240612);
  for (int i = 0; i < 1500; ++i) {
    const std::string input = MakeInput(random);
    fuzzer.Run(reinterpret_cast<const uint8_t*>(input.data()), input.size());
  }
  // A declared GetErrorLog parameter longer than the body, bytes past it, and a flood of
  // unanswered messages.
  std::string tooLong = statuswire::CommonCmdBody("GetErrorLog", "a.log");
  tooLong[35] = static_cast<char>(250);
  std::string input(1, '\0');
  input += Message(random, tooLong) + Message(random, statuswire::CommonCmdBody("GetErrorLog", "a.log") + "extra");
  for (int i = 0; i < 200; ++i) input += Message(random, "\x09\x09");
  fuzzer.Run(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

}  // namespace
