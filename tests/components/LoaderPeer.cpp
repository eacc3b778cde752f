// A small program that loads one component the way the manager does, for the tests of
// the loaders' failures (which end the process): "log", "config", or "log+config" (the
// log object first, as when something was logged before the configuration loads).
#include <cstdio>
#include <cstring>

#include "components/ConfigComponent.h"
#include "components/LogComponent.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "log") == 0) {
    ILog* log = LogObject();
    std::printf("log %s\n", log != nullptr ? "loaded" : "null");
    return log != nullptr ? 0 : 3;
  }
  if (argc == 2 && std::strcmp(argv[1], "log+config") == 0) {
    if (LogObject() == nullptr) return 3;
    return CreateConfigInterface() != nullptr ? 0 : 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "config") == 0) {
    // As the main window does: no interface ends the process with 1, without a message.
    return CreateConfigInterface() != nullptr ? 0 : 1;
  }
  std::fprintf(stderr, "usage: components_loader_peer log|config|log+config\n");
  return 2;
}
