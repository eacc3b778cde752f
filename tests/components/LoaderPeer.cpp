// A small program that loads one component the way the manager's start-up does, for the
// tests of the loaders' failures: "log", "config", or "log+config" (the log object first, as
// when something was logged before the configuration loads). A failure that the loader
// reports ends the process as start-up ends it: the topmost box, then exit code 1.
#include <cstdio>
#include <cstring>
#include <string>

#include "components/ConfigComponent.h"
#include "components/LogComponent.h"
#include "platform/dialogs.h"
#include "platform/process.h"

namespace {

void EndOnFailure(const std::string& failure) {
  if (failure.empty()) return;
  platform::CurrentDialogs().ErrorBox(failure, "Error report");
  platform::EndProcess(1);
}

ILog* LoadLog() {
  std::string failure;
  LoadLogComponent(&failure);
  EndOnFailure(failure);
  return LogObject();
}

IConfig* LoadConfig() {
  std::string failure;
  IConfig* config = CreateConfigInterface(&failure);
  EndOnFailure(failure);
  return config;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "log") == 0) {
    ILog* log = LoadLog();
    std::printf("log %s\n", log != nullptr ? "loaded" : "null");
    return log != nullptr ? 0 : 3;
  }
  if (argc == 2 && std::strcmp(argv[1], "log+config") == 0) {
    if (LoadLog() == nullptr) return 3;
    return LoadConfig() != nullptr ? 0 : 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "config") == 0) {
    // As start-up does: no interface ends the process with 1, without a message.
    return LoadConfig() != nullptr ? 0 : 1;
  }
  std::fprintf(stderr, "usage: components_loader_peer log|config|log+config\n");
  return 2;
}
