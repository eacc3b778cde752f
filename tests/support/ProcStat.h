// A process's stat line in /proc, read as proc(5) numbers its fields: what tests check a
// process's parent, session, state and processor time against, from the kernel's side.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

// Field `n` (1-based, as in proc(5); from 3 on, after the name) of the process's stat line,
// or "" when the process or the field is not there.
inline std::string ProcStatField(uint32_t pid, int n) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  std::getline(stat, text);
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos || n < 3) return std::string();
  std::istringstream rest(text.substr(close + 1));
  std::string field;
  for (int i = 3; i <= n; ++i)
    if (!(rest >> field)) return std::string();
  return field;
}

// The process's state letter ('R', 'S', 'Z', ...), or 'X' when it is gone.
inline char ProcState(uint32_t pid) {
  const std::string state = ProcStatField(pid, 3);
  return state.empty() ? 'X' : state[0];
}
