// The fuzzing entry for the status link's request path: any messages (any head, any body)
// received by the link and routed through the window's handler, with hostile text fields in
// the map records. Used by the libFuzzer target and by a seeded unit test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class RequestPathFuzzer {
 public:
  // Installs an in-memory network core, a log, a map list of two maps and an error-log
  // directory; the destructor takes them away again.
  RequestPathFuzzer();
  ~RequestPathFuzzer();
  RequestPathFuzzer(const RequestPathFuzzer&) = delete;
  RequestPathFuzzer& operator=(const RequestPathFuzzer&) = delete;

  // Input: a flag byte (bit 0: the next 60 bytes go into map 0's three time fields; bit 1:
  // the next byte is map 0's state), then messages, each a 16-bit body length, 9 head bytes
  // and the body (cut to what is left). Returns 0; a broken invariant aborts.
  int Run(const uint8_t* data, std::size_t size);

  // The content of the one log file that can be fetched ("a.log").
  static const char* LogFileContent();

 private:
  struct State;
  std::unique_ptr<State> m_State;
};
