#include "runtime/CodePage.h"

#include <iconv.h>

#include <cerrno>

std::string CodePageToUtf8(const std::string& bytes, const char* codePage) {
  iconv_t converter = iconv_open("UTF-8", codePage);
  if (converter == reinterpret_cast<iconv_t>(-1)) return bytes;
  std::string out;
  char buffer[256];
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    size_t done = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    if (done == static_cast<size_t>(-1) && errno != E2BIG) {
      // An invalid or cut-off sequence: show one "?" and go on after its first byte.
      out += '?';
      ++in;
      --inLeft;
    }
  }
  iconv_close(converter);
  return out;
}
