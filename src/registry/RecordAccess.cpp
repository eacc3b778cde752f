#include "registry/RecordAccess.h"

#include <algorithm>

namespace record {
namespace {

// Stores `count` bytes of `bytes` (zero beyond them) into the 4-byte words of `field`.
void StoreWords(char* field, std::size_t size, const char* bytes, std::size_t count) {
  for (std::size_t at = 0; at < size; at += 4) {
    uint32_t word = 0;
    if (at < count) std::memcpy(&word, bytes + at, std::min<std::size_t>(4, count - at));
    std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(field + at)).store(word, std::memory_order_relaxed);
  }
}

}  // namespace

void WriteScriptCmd(tagMapServerData& r, const std::string& text) {
  static_assert(offsetof(tagMapServerData, ScriptCmd) % 4 == 0 && sizeof r.ScriptCmd % 4 == 0);
  StoreWords(r.ScriptCmd, sizeof r.ScriptCmd, text.data(), std::min(text.size(), sizeof r.ScriptCmd - 1));
}

void Zero(tagMapServerData& r) {
  static_assert(sizeof(tagMapServerData) % 4 == 0);
  StoreWords(reinterpret_cast<char*>(&r), sizeof r, nullptr, 0);
}

std::string Text(const char* field, std::size_t size) {
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    const char c = std::atomic_ref<char>(*const_cast<char*>(field + i)).load(std::memory_order_relaxed);
    if (c == '\0') break;
    text.push_back(c);
  }
  return text;
}

}  // namespace record
