// The map server process: its log, its bus endpoint ("window"), the maps it serves and the
// loop that drives them. One endpoint serves every map of the process; each map has its
// own record.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "MapServer.h"
#include "MapServerLog.h"
#include "MapServerOptions.h"
#include "platform/message_bus.h"

namespace mapserver {

// The message the manager sends to a map server it has just started as part of "StartAll".
constexpr uint32_t kStartAnnounceMessage = platform::WM_USER + 3;  // 1027
// The window class of every map server endpoint.
constexpr const char* kMapServerWindowClass = "VemoMapServer";

class MapServerApp {
 public:
  // `environmentFaults` is the VEMO_MS_FAULTS text ("" when unset).
  MapServerApp(MapServerOptions options, std::string programName, std::string environmentFaults);
  ~MapServerApp();

  // Serves until every map is closed or a stop is requested. Exit code: 0 after a graceful
  // end, 1 when no map's record could be opened.
  int Run();

  // Asks the loop to save and end (called from the SIGTERM handler: only sets a flag).
  static void RequestStop();

 private:
  void OnBusMessage(const platform::BusMessage& message);
  void SetShowState(const std::string& state, const char* why);
  std::string LogStem() const;

  MapServerOptions m_Options;
  std::string m_EnvironmentFaults;
  MapServerLog m_Log;
  ServerContext m_Context;
  std::unique_ptr<platform::BusEndpoint> m_Endpoint;
  std::vector<std::unique_ptr<MapServer>> m_Maps;
};

}  // namespace mapserver
