// The packet key table's interface: a value combined with the key word at an index.
#pragma once

#include <cstdint>

class IPackKeyDictFetcher {
 public:
  virtual ~IPackKeyDictFetcher() = default;
  virtual uint32_t FetchKey(uint32_t index, uint32_t value) = 0;
};
