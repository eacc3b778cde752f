// The /metrics endpoint: an HTTP server on a thread of its own that answers GET /metrics
// with BuildMetricsText, read under the map list's read lock. Off unless "MetricsPort" is
// set; it listens on "MetricsAddress" (127.0.0.1 unless the operator opens it wider).
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "metrics/MetricsText.h"

namespace httplib {
class Server;
}

class MetricsServer {
 public:
  MetricsServer(MapServerInfoManager& maps, const MapServerLauncher* launcher, IManagerFigures& figures);
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Binds and starts serving; false (with the reason in `error`) when the address cannot
  // be bound.
  bool Start(const std::string& address, int port, std::string& error);
  void Stop();
  bool IsRunning() const { return m_Thread.joinable(); }
  int Port() const { return m_Port; }

 private:
  MapServerInfoManager& m_Maps;
  const MapServerLauncher* m_Launcher;
  IManagerFigures& m_Figures;
  std::unique_ptr<httplib::Server> m_Server;
  std::thread m_Thread;
  int m_Port = 0;
};
