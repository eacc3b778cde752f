#include "runtime/InfoWriter.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "common/Utils.h"
#include "components/LogComponent.h"
#include "runtime/Console.h"

void WriteInfo(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = FormatTextV(format, args);
  va_end(args);
  if (HasConsoleWindow()) {
    std::printf("%s\t%s\n", NowAsText().c_str(), message.c_str());
    std::fflush(stdout);
  }
  LogObject()->LogInfo("%s", message.c_str());
}
