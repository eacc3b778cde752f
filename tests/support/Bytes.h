// Byte strings written as numbers, little-endian fields in them, and their hexadecimal
// form for failure messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

// The bytes of `values`, each taken modulo 256.
inline std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// "0A FF 00": the bytes in hexadecimal, separated by spaces.
inline std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// Appends the `bytes` low bytes of `value`, least significant first.
inline void PutLe(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// The little-endian number of `size` bytes at `at`.
inline uint64_t LoadLe(const std::string& bytes, std::size_t at, int size) {
  uint64_t value = 0;
  for (int i = size - 1; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  return value;
}
