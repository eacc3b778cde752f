// The packet key table: 1024 fixed 32-bit words (4096 bytes), the same for every
// component that shares the packet definitions. FetchKey combines a value with the word
// at the low 10 bits of the index.
#pragma once

#include <array>
#include <cstdint>

#include "packet/IPackKeyDictFetcher.h"

class VemoPackKeyDictFetcher : public IPackKeyDictFetcher {
 public:
  static constexpr uint32_t kKeyCount = 1024;

  uint32_t FetchKey(uint32_t index, uint32_t value) override;

  // The table itself, constant data of the program.
  static const std::array<uint32_t, kKeyCount>& KeyTable();
};

// The process-wide key table object, constructed at start and destroyed at the end.
IPackKeyDictFetcher* PackKeyDictFetcher();
