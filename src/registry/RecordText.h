// Bounded access to the text buffers of a shared record. The other side of a record may
// be broken or hostile and leave a buffer without its closing zero byte; these readers
// never look past the buffer, and the writer always leaves a zero inside it.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

// The text of a record buffer: up to the first zero byte, or the whole buffer when there
// is none.
template <std::size_t N>
std::string RecordText(const char (&field)[N]) {
  const void* end = std::memchr(field, 0, N);
  std::size_t length = end ? static_cast<std::size_t>(static_cast<const char*>(end) - field) : N;
  return std::string(field, length);
}

// Writes `text` into a record buffer: all N bytes are zeroed first, then at most N - 1
// bytes of the text are copied, so a zero byte always ends it inside the buffer.
template <std::size_t N>
void WriteRecordText(char (&field)[N], const std::string& text) {
  static_assert(N > 0);
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), text.size() < N - 1 ? text.size() : N - 1);
}
