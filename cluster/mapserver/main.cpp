// The map server program, built as "VemoMapServer.exe" and "VemoMapServerDM.exe".
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "MapServerApp.h"
#include "MapServerOptions.h"

int main(int argc, char** argv) {
  std::string programName = argc > 0 && argv[0] ? argv[0] : "VemoMapServer";
  std::size_t slash = programName.rfind('/');
  if (slash != std::string::npos) programName.erase(0, slash + 1);

  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  mapserver::MapServerOptions options;
  std::string error;
  if (!mapserver::ParseMapServerArgs(args, options, error)) {
    std::fprintf(stderr, "%s: %s\n%s", programName.c_str(), error.c_str(), mapserver::UsageText(programName).c_str());
    return 2;
  }
  const char* faults = std::getenv("VEMO_MS_FAULTS");
  mapserver::MapServerApp app(std::move(options), programName, faults ? faults : "");
  return app.Run();
}
